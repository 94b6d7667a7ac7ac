#include "scan/pop3/parsedmessage.h"

#include <QScopeGuard>
#include <QStringList>

#include <gmime/gmime.h>

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace {

// Multiparts nested deeper than this are not looked into; real mail nests a handful of levels,
// and the bound keeps a crafted message from exhausting the stack.
constexpr int kMaxNesting = 64;

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object)
            g_object_unref(object);
    }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(static_cast<intptr_t>(-1));

// The converters to UTF-8 one thread opened, by charset name. Opening one looks the charset up
// and loads its module, which costs more than converting a message; mail uses a handful of
// charsets, so the first few are kept for the thread's lifetime.
class ConverterCache {
public:
    ConverterCache() = default;
    ConverterCache(const ConverterCache&) = delete;
    ConverterCache& operator=(const ConverterCache&) = delete;
    ~ConverterCache() {
        for (const auto& [name, cd] : m_open)
            g_mime_iconv_close(cd);
    }

    // A converter in its initial state, or kNoConverter. One not kept must be given back.
    iconv_t take(const char* charset) {
        for (const auto& [name, cd] : m_open) {
            if (name == charset) {
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                return cd;
            }
        }
        const iconv_t cd = g_mime_iconv_open("UTF-8", charset);
        if (cd != kNoConverter && m_open.size() < kKept)
            m_open.emplace_back(QByteArray(charset), cd);
        return cd;
    }

    void giveBack(iconv_t cd) {
        for (const auto& kept : m_open) {
            if (kept.second == cd)
                return;
        }
        g_mime_iconv_close(cd);
    }

private:
    static constexpr size_t kKept = 8;
    std::vector<std::pair<QByteArray, iconv_t>> m_open;
};

// Converts with iconv; an invalid or truncated sequence becomes U+FFFD and conversion goes on.
std::optional<QString> convertToUnicode(QByteArrayView bytes, const char* charset) {
    thread_local ConverterCache converters;
    iconv_t cd = converters.take(charset);
    if (cd == kNoConverter)
        return std::nullopt;

    static constexpr char kReplacement[] = "\xEF\xBF\xBD";
    QByteArray out(bytes.size() + bytes.size() / 2 + 16, Qt::Uninitialized);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = static_cast<size_t>(bytes.size());
    qsizetype used = 0;
    const auto room = [&](qsizetype needed) {
        if (out.size() - used < needed)
            out.resize(qMax(out.size() * 2, used + needed));
    };
    for (bool flushing = false;;) {
        room(16);
        char* outStart = out.data() + used;
        char* outPtr = outStart;
        size_t outLeft = static_cast<size_t>(out.size() - used);
        // A last call with no input writes out the state of stateful charsets (ISO-2022-JP).
        const size_t result = flushing ? iconv(cd, nullptr, nullptr, &outPtr, &outLeft)
                                       : iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        used += outPtr - outStart;
        if (result != static_cast<size_t>(-1)) {
            if (flushing)
                break;
            flushing = true;
            continue;
        }
        if (error == E2BIG) {
            room(out.size());
            continue;
        }
        if (flushing || inLeft == 0)
            break;
        // EILSEQ or EINVAL: one byte that does not belong to the charset.
        room(3);
        memcpy(out.data() + used, kReplacement, 3);
        used += 3;
        ++in;
        --inLeft;
    }
    converters.giveBack(cd);
    out.truncate(used);
    return QString::fromUtf8(out);
}

// Turns CRLF into LF in place, in one pass over the text.
void crlfToLf(QString& text) {
    const qsizetype first = text.indexOf(QLatin1String("\r\n"));
    if (first < 0)
        return;
    QChar* data = text.data();
    const qsizetype size = text.size();
    qsizetype out = first;
    for (qsizetype in = first; in < size; ++in) {
        if (data[in] == QLatin1Char('\r') && in + 1 < size && data[in + 1] == QLatin1Char('\n'))
            continue;
        data[out++] = data[in];
    }
    text.truncate(out);
}

QString guessCharset(QByteArrayView bytes) {
    if (bytes.isValidUtf8())
        return QString::fromUtf8(bytes);
    if (std::optional<QString> text = convertToUnicode(bytes, "windows-1252"))
        return *text;
    return QString::fromLatin1(bytes);
}

// The bytes of a stream that lies in memory, where they lie: for content without a transfer
// encoding these are the decoded bytes, and reading them in place spares a copy of the part.
std::optional<QByteArrayView> bytesInPlace(GMimeStream* stream) {
    if (!stream || !GMIME_IS_STREAM_MEM(stream))
        return std::nullopt;
    const GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    if (!array)
        return std::nullopt;
    const gint64 length = array->len;
    const gint64 start = std::clamp<gint64>(stream->bound_start, 0, length);
    const gint64 end =
        stream->bound_end < 0 ? length : std::clamp<gint64>(stream->bound_end, start, length);
    return QByteArrayView(reinterpret_cast<const char*>(array->data) + start, end - start);
}

QString partText(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content)
        return QString();
    const QByteArray charset(
        g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset"));
    GMimeStream* source = g_mime_data_wrapper_get_stream(content);
    QString text;
    switch (g_mime_data_wrapper_get_encoding(content)) {
    case GMIME_CONTENT_ENCODING_DEFAULT:
    case GMIME_CONTENT_ENCODING_7BIT:
    case GMIME_CONTENT_ENCODING_8BIT:
    case GMIME_CONTENT_ENCODING_BINARY:
        if (const std::optional<QByteArrayView> bytes = bytesInPlace(source)) {
            text = decodeCharset(*bytes, charset);
            crlfToLf(text);
            return text;
        }
        break;
    default:
        break;
    }
    // Decoding never makes the content longer, so its encoded length is room enough: the buffer
    // is not regrown (and briefly doubled) while a large part is decoded.
    const gint64 encodedLength = g_mime_stream_length(source);
    GByteArray* buffer = g_byte_array_sized_new(
        encodedLength > 0 && encodedLength < G_MAXUINT ? static_cast<guint>(encodedLength) : 0);
    GObjectPtr<GMimeStream> decoded(g_mime_stream_mem_new_with_byte_array(buffer));
    // Undoes the transfer encoding. A damaged encoding yields what could be decoded.
    g_mime_data_wrapper_write_to_stream(content, decoded.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(decoded.get()));
    text = decodeCharset(QByteArrayView(bytes->data, bytes->len), charset);
    // The decoded bytes are not needed any more; a large part does not hold both at once longer
    // than it must.
    decoded.reset();
    crlfToLf(text);
    return text;
}

void collectText(GMimeObject* object, QStringList& texts, int depth) {
    if (!object || depth > kMaxNesting)
        return;
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        const int count = g_mime_multipart_get_count(multipart);
        for (int i = 0; i < count; ++i)
            collectText(g_mime_multipart_get_part(multipart, i), texts, depth + 1);
    } else if (GMIME_IS_MESSAGE_PART(object)) {
        // A forwarded or bounced message: its text counts as much as the outer message's.
        if (GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object)))
            collectText(g_mime_message_get_mime_part(inner), texts, depth + 1);
    } else if (GMIME_IS_PART(object)) {
        GMimeContentType* type = g_mime_object_get_content_type(object);
        if (type && (g_mime_content_type_is_type(type, "text", "plain") ||
                     g_mime_content_type_is_type(type, "text", "html")))
            texts.append(partText(GMIME_PART(object)));
    }
}

void collectHeaders(GMimeObject* object, QList<MessageHeader>& headers) {
    GMimeHeaderList* list = g_mime_object_get_header_list(object);
    if (!list)
        return;
    const int count = g_mime_header_list_get_count(list);
    headers.reserve(headers.size() + count);
    for (int i = 0; i < count; ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(list, i);
        headers.append({QString::fromUtf8(g_mime_header_get_name(header)),
                        QByteArray(g_mime_header_get_raw_value(header))});
    }
}

} // namespace

// Undecodable 8-bit header text is tried as UTF-8, then as Windows-1252, the usual charset of
// unlabelled Western mail.
GMimeParserOptions* messageParserOptions() {
    static GMimeParserOptions* options = [] {
        g_mime_init();
        GMimeParserOptions* created = g_mime_parser_options_new();
        const char* fallback[] = {"UTF-8", "windows-1252", nullptr};
        g_mime_parser_options_set_fallback_charsets(created, fallback);
        g_mime_parser_options_set_rfc2047_compliance_mode(created, GMIME_RFC_COMPLIANCE_LOOSE);
        return created;
    }();
    return options;
}

// Decoded as the parser's own header fields decode their values: unfolded, then encoded words
// and undeclared 8-bit text turned into UTF-8 by the parser options' rules.
QString MessageHeader::value() const {
    if (rawValue.isNull())
        return QString();
    GMimeParserOptions* options = messageParserOptions();
    char* unfolded = g_mime_utils_header_unfold(rawValue.constData());
    char* decoded = g_mime_utils_header_decode_text(options, unfolded);
    const QString text = QString::fromUtf8(decoded);
    g_free(decoded);
    g_free(unfolded);
    return text;
}

QString ParsedMessage::header(QStringView name) const {
    name = name.trimmed();
    if (name.endsWith(QLatin1Char(':')))
        name.chop(1);
    name = name.trimmed();
    for (const MessageHeader& field : headers) {
        if (QStringView(field.name).compare(name, Qt::CaseInsensitive) == 0)
            return field.value();
    }
    return QString();
}

QString decodeCharset(QByteArrayView bytes, const QByteArray& charset) {
    messageParserOptions(); // sets the library up, its charset tables included
    const QByteArray name = charset.trimmed().toLower();
    if (name == "utf-8" || name == "utf8")
        return QString::fromUtf8(bytes);
    // Every byte is the character of the same value: no converter needed.
    if (name == "iso-8859-1" || name == "iso8859-1" || name == "latin1")
        return QString::fromLatin1(bytes);
    // ASCII labels are the default that mailers write without looking at the text.
    if (name.isEmpty() || name == "us-ascii" || name == "ascii")
        return guessCharset(bytes);
    if (std::optional<QString> text = convertToUnicode(bytes, name.constData()))
        return *text;
    return guessCharset(bytes);
}

qsizetype mailboxSeparatorsLength(QByteArrayView raw) {
    qsizetype at = 0;
    while (raw.sliced(at).startsWith("From ")) {
        const qsizetype end = raw.indexOf('\n', at);
        at = end < 0 ? raw.size() : end + 1;
    }
    return at;
}

ParsedMessage parseMessage(const QByteArray& raw) {
    GMimeParserOptions* options = messageParserOptions();
    ParsedMessage parsed;

    // The parser reads the message where it lies rather than from a copy: the stream borrows the
    // bytes and hands them back when it goes, before this function returns.
    const qsizetype start = mailboxSeparatorsLength(raw);
    GByteArray* borrowed =
        g_byte_array_new_take(reinterpret_cast<guint8*>(const_cast<char*>(raw.constData() + start)),
                              static_cast<gsize>(raw.size() - start));
    const auto giveBack = qScopeGuard([borrowed] { g_byte_array_free(borrowed, FALSE); });
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_byte_array(borrowed));
    g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream.get()), FALSE);
    GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    GObjectPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), options));
    if (!message) {
        parsed.body = guessCharset(raw);
        crlfToLf(parsed.body);
        return parsed;
    }

    GMimeObject* top = g_mime_message_get_mime_part(message.get());
    collectHeaders(GMIME_OBJECT(message.get()), parsed.headers);
    if (top)
        collectHeaders(top, parsed.headers);
    parsed.sender = parsed.header(u"From");
    parsed.subject = parsed.header(u"Subject");

    QStringList texts;
    collectText(top, texts, 0);
    // One part, the usual case, is taken as it is rather than copied by join.
    parsed.body = texts.size() == 1 ? std::move(texts.front()) : texts.join(QLatin1Char('\n'));
    return parsed;
}
