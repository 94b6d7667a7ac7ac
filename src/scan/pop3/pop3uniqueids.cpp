#include "scan/pop3/pop3uniqueids.h"

#include <QHash>

#include <algorithm>
#include <vector>

namespace {

constexpr qsizetype kMaxIdLength = 70;

bool isDigits(QByteArrayView text) {
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

bool isValidUniqueId(QByteArrayView id) {
    return !id.isEmpty() && id.size() <= kMaxIdLength &&
           std::all_of(id.begin(), id.end(), [](char c) { return c >= 0x21 && c <= 0x7e; });
}

QList<QByteArray> parseUniqueIds(const QByteArray& listing, int count) {
    QList<QByteArray> ids(std::max(count, 0));
    // Numbers listed more than once lose their id; so do ids listed more than once.
    std::vector<bool> doubtful(ids.size(), false);
    QHash<QByteArray, int> numberOf;
    numberOf.reserve(ids.size());
    qsizetype start = 0;
    while (start < listing.size()) {
        qsizetype end = listing.indexOf('\n', start);
        if (end < 0)
            end = listing.size();
        QByteArrayView line = QByteArrayView(listing).sliced(start, end - start);
        start = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype space = line.indexOf(' ');
        if (space < 0)
            continue;
        const QByteArrayView numberText = line.first(space);
        const QByteArrayView id = line.sliced(space + 1);
        // Leading zeros and signs are not how a number is written in a listing.
        if (!isDigits(numberText) || numberText.size() > 9 || numberText.startsWith('0'))
            continue;
        const int number = numberText.toInt();
        if (number < 1 || number > count)
            continue;
        const auto index = qsizetype(number - 1);
        if (!ids[index].isEmpty() || doubtful[size_t(index)]) {
            doubtful[size_t(index)] = true;
            continue;
        }
        if (!isValidUniqueId(id)) {
            doubtful[size_t(index)] = true;
            continue;
        }
        ids[index] = id.toByteArray();
        const auto other = numberOf.constFind(ids[index]);
        if (other != numberOf.cend()) {
            doubtful[size_t(index)] = true;
            doubtful[size_t(*other - 1)] = true;
        } else {
            numberOf.insert(ids[index], number);
        }
    }
    for (qsizetype i = 0; i < ids.size(); ++i) {
        if (doubtful[size_t(i)])
            ids[i].clear();
    }
    return ids;
}
