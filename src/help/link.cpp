#include "help/link.h"

#include <QDesktopServices>
#include <QFileInfo>

namespace {
LinkOpener& openerSlot() {
    static LinkOpener opener;
    return opener;
}

bool isOpenVerb(const QString& verb) {
    return verb.isEmpty() || verb.compare(QLatin1String("open"), Qt::CaseInsensitive) == 0 ||
           verb.compare(QLatin1String("explore"), Qt::CaseInsensitive) == 0;
}
} // namespace

bool OpenLink(const QString& target, const QString& verb, const QString& parameters,
              const QString& directory, int showMode) {
    if (!isOpenVerb(verb) || !parameters.isEmpty() || target.trimmed().isEmpty())
        return false;
    const QUrl url = QUrl::fromUserInput(target.trimmed(), directory);
    if (!url.isValid())
        return false;
    // A missing file or folder fails here, as it would in the desktop, rather than leaving the
    // file manager to complain.
    if (url.isLocalFile() && !QFileInfo::exists(url.toLocalFile()))
        return false;

    const LinkRequest request{url, showMode};
    if (const LinkOpener& opener = openerSlot())
        return opener(request);
    // The desktop has no way to open a window hidden or in a given state: the mode is a wish.
    return QDesktopServices::openUrl(request.url);
}

void setLinkOpener(LinkOpener opener) {
    openerSlot() = std::move(opener);
}
