// The whitelist's "Import" button: copies the e-mail addresses of the user's address book into
// the whitelist grid.
#include "addressbook/modkWab.h"
#include "app/frmMain.h"
#include "app/msgbox.h"
#include "app/ubGrid.h"

#include <QByteArray>
#include <QString>

#include <vector>

void frmMain::Command1_Click() {
    WabHandle handle{};
    if (kWabOpen(handle) == 0) {
        MsgBox(QStringLiteral("Unable to open the system wab"), MsgBoxButtons::Ok);
        return;
    }
    const qint32 entryCount = kWabGetNumEntries(handle);
    MsgBox(QStringLiteral("Number of entries: ") + QString::number(entryCount), MsgBoxButtons::Ok);
    if (entryCount > 0) {
        std::vector<WabEntryRef> entryRefs(static_cast<size_t>(entryCount));
        const qint32 written = kWabGetEntries(handle, entryRefs, entryCount);
        QByteArray buffer(kWabPropBufferSize, '\0');
        for (qint32 i = 1; i <= written; ++i) {
            const WabEntryRef& entry = entryRefs[static_cast<size_t>(i - 1)];
            // The display name only decides whether the entry is taken.
            buffer.fill('\0');
            if (kWabGetProp_String(handle, entry, PR_DISPLAY_NAME_A, buffer, kWabPropBufferSize,
                                   0) == 0) {
                MsgBox(QStringLiteral("Error getting entry #") + QString::number(i),
                       MsgBoxButtons::Ok);
                continue;
            }
            buffer.fill('\0');
            QString address;
            if (kWabGetProp_String(handle, entry, PR_EMAIL_ADDRESS_A, buffer, kWabPropBufferSize,
                                   0) != 0)
                address = StripTrailingNuls(QString::fromUtf8(buffer));
            else
                address = QStringLiteral(" <email address not found>");
            gridwhitelist->addrow(address);
        }
        if (written > 0)
            kWabFreeEntries(handle, entryRefs, entryCount);
    }
    kWabClose(handle);
}
