// The files delivered with the program: the pictures compiled into it and the help page that
// lies beside it.

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

class TestResources : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void picture_data();
    void picture();
    void menuCheckIsA24BitBitmap();
    void helpPageReadsAsUtf8();
    void helpPageLinksLeadToAnchors();
    void helpPageIsSelfContained();

private:
    static QString helpPagePath() { return QStringLiteral(HELP_PAGE); }
    static QByteArray readHelpPage();
};

void TestResources::picture_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("transparent");

    // The logo fills 2280 x 7560 twips at 15 twips a pixel.
    QTest::newRow("logo") << QStringLiteral(":/logo.jpg") << QByteArray("jpeg") << QSize(152, 504)
                          << false;
    QTest::newRow("icon") << QStringLiteral(":/corvanta.png") << QByteArray("png") << QSize(32, 32)
                          << true;
    for (int size : {16, 22, 48, 64}) {
        QTest::addRow("icon %d", size) << QStringLiteral(":/corvanta-%1.png").arg(size)
                                       << QByteArray("png") << QSize(size, size) << true;
    }
    QTest::newRow("menu check") << QStringLiteral(":/menucheck.bmp") << QByteArray("bmp")
                                << QSize(17, 15) << false;
    QTest::newRow("add") << QStringLiteral(":/add.png") << QByteArray("png") << QSize(16, 16)
                         << true;
    QTest::newRow("cancel") << QStringLiteral(":/cancel.png") << QByteArray("png") << QSize(16, 16)
                            << true;
}

// Each picture is compiled into any program that links the user-interface library, in the
// format and size its control expects; icons stand on a transparent background.
void TestResources::picture() {
    QFETCH(QString, path);
    QFETCH(QByteArray, format);
    QFETCH(QSize, size);
    QFETCH(bool, transparent);

    QVERIFY2(QFile::exists(path), qPrintable(path + QStringLiteral(" is not compiled in")));
    QImageReader reader(path);
    QCOMPARE(reader.format(), format);
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), size);
    QCOMPARE(image.hasAlphaChannel(), transparent);
    if (transparent) {
        // The corners lie outside the round and shield shapes.
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(image.pixel(size.width() - 1, 0)), 0);
        QCOMPARE(qAlpha(image.pixel(0, size.height() - 1)), 0);
        // And something opaque is drawn in the middle.
        QCOMPARE(qAlpha(image.pixel(size.width() / 2, size.height() / 2)), 255);
    } else {
        // Not a blank picture: the middle differs from the top-left corner.
        QVERIFY(image.pixel(size.width() / 2, size.height() / 2) != image.pixel(0, 0));
    }
}

void TestResources::menuCheckIsA24BitBitmap() {
    QFile file(QStringLiteral(":/menucheck.bmp"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray head = file.read(30);
    QCOMPARE(head.size(), 30);
    QVERIFY(head.startsWith("BM"));
    // Bits per pixel: the 16-bit little-endian value at byte 28, in the info header.
    const int bits =
        static_cast<unsigned char>(head.at(28)) | static_cast<unsigned char>(head.at(29)) << 8;
    QCOMPARE(bits, 24);
}

QByteArray TestResources::readHelpPage() {
    QFile file(helpPagePath());
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// The page lies beside the built program, declares its encoding and is valid UTF-8, so its
// typographic quotes and dashes show as such in the Help tab and in any browser.
void TestResources::helpPageReadsAsUtf8() {
    const QByteArray bytes = readHelpPage();
    QVERIFY2(!bytes.isEmpty(), qPrintable(helpPagePath() + QStringLiteral(" is missing")));
    QVERIFY(bytes.left(1024).toLower().contains("charset=\"utf-8\"") ||
            bytes.left(1024).toLower().contains("charset=utf-8"));
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    QVERIFY(!decoder.hasError());
    QVERIFY(text.contains(QStringLiteral("\u201cUpdate\u201d")));
}

// Every internal link of the page must lead to an anchor that the Help tab's browser can scroll
// to; a broken link silently does nothing there.
void TestResources::helpPageLinksLeadToAnchors() {
    const QString html = QString::fromUtf8(readHelpPage());
    QVERIFY(!html.isEmpty());

    QTextDocument document;
    document.setHtml(html);
    QSet<QString> anchors;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QStringList names = it.fragment().charFormat().anchorNames();
            for (const QString& name : names)
                anchors.insert(name);
        }
        // An empty anchor at the start of a heading is kept in the block's own format.
        const QStringList names = block.charFormat().anchorNames();
        for (const QString& name : names)
            anchors.insert(name);
    }

    static const QRegularExpression link(QStringLiteral("href=\"#([^\"]+)\""));
    int links = 0;
    for (auto it = link.globalMatch(html); it.hasNext();) {
        const QString target = it.next().captured(1);
        ++links;
        QVERIFY2(anchors.contains(target), qPrintable(QStringLiteral("no anchor ") + target));
    }
    QVERIFY(links > 0);
}

// The page is shown from a plain file: nothing it needs may come from elsewhere.
void TestResources::helpPageIsSelfContained() {
    const QString html = QString::fromUtf8(readHelpPage()).toLower();
    QVERIFY(!html.isEmpty());
    QVERIFY(!html.contains(QStringLiteral("<script")));
    QVERIFY(!html.contains(QStringLiteral(" src=")));
    QVERIFY(!html.contains(QStringLiteral("<link")));
    QVERIFY(!html.contains(QStringLiteral("@import")));
    QVERIFY(!html.contains(QStringLiteral("url(")));
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
