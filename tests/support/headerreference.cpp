#include "support/headerreference.h"

#include "scan/pop3/parsedmessage.h"

#include <gmime/gmime.h>

QStringList headerValuesAsTheParserDecodesThem(const QByteArray& raw) {
    GMimeParserOptions* options = messageParserOptions();
    const qsizetype start = mailboxSeparatorsLength(raw);
    GMimeStream* stream =
        g_mime_stream_mem_new_with_buffer(raw.constData() + start, size_t(raw.size() - start));
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    g_mime_parser_set_format(parser, GMIME_FORMAT_MESSAGE);
    GMimeMessage* message = g_mime_parser_construct_message(parser, options);
    QStringList values;
    for (GMimeObject* object :
         {GMIME_OBJECT(message), message ? g_mime_message_get_mime_part(message) : nullptr}) {
        GMimeHeaderList* list = object ? g_mime_object_get_header_list(object) : nullptr;
        for (int i = 0; list && i < g_mime_header_list_get_count(list); ++i)
            values.append(QString::fromUtf8(
                g_mime_header_get_value(g_mime_header_list_get_header_at(list, i))));
    }
    if (message)
        g_object_unref(message);
    g_object_unref(parser);
    g_object_unref(stream);
    return values;
}
