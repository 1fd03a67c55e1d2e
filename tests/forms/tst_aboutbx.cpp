#include "support/windowharness.h"

#include "forms/aboutbx.h"
#include "forms/fonts.h"

#include <QCommandLinkButton>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>

// The about dialog that the Info button opens.
class TestAboutBx : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void dialog();
    void widgets_data();
    void widgets();
    void pictures_data();
    void pictures();
    void productAndNoticeTexts_data();
    void productAndNoticeTexts();
    void licenceIsTheRepositoryLicence();
    void licenceParagraphs();
    void licenceIsReadOnlyAndScrollable();
    void textsCanBeSelectedButOpenNothing();
    void eachPressOfInfoOpensAnotherDialog();
    void screenshot();

private:
    static QStringList licenceLines();
};

QStringList TestAboutBx::licenceLines()
{
    QFile file(QStringLiteral(ZENTAVAL_COPYING_LESSER));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

void TestAboutBx::initTestCase()
{
    registerFontSubstitutes();
}

void TestAboutBx::dialog()
{
    AboutBx dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("AboutBx"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("About"));
    QCOMPARE(dialog.size(), QSize(561, 341));
    QCOMPARE(dialog.minimumSize(), QSize(0, 0));
    QCOMPARE(dialog.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    QVERIFY(!dialog.isModal());
    QVERIFY(!dialog.layout());

    const QImage help(QStringLiteral(":/new/prefix1/HelpIcon.png"));
    QVERIFY2(!help.isNull(), "the window icon's picture is not compiled in");
    QCOMPARE(dialog.windowIcon().pixmap(help.size()).toImage(), QPixmap::fromImage(help).toImage());

    QStringList named;
    for (QWidget *child : dialog.findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        named << child->objectName();
    QCOMPARE(named, (QStringList{"QuorvaneIcon", "GNUIcon", "LicenseTB", "label", "label_2"}));
}

void TestAboutBx::widgets_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("rectangle");
    QTest::addColumn<int>("pointSize"); // 0: the dialog's own

    QTest::newRow("QuorvaneIcon") << "QLabel" << QRect(10, 10, 100, 45) << 0;
    QTest::newRow("GNUIcon") << "QLabel" << QRect(10, 120, 100, 35) << 0;
    QTest::newRow("LicenseTB") << "QTextEdit" << QRect(10, 190, 541, 141) << 0;
    QTest::newRow("label") << "QLabel" << QRect(120, 10, 431, 101) << 10;
    QTest::newRow("label_2") << "QLabel" << QRect(120, 120, 431, 51) << 10;
}

void TestAboutBx::widgets()
{
    QFETCH(QString, className);
    QFETCH(QRect, rectangle);
    QFETCH(int, pointSize);

    AboutBx dialog;
    auto *w = dialog.findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(w);
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), className);
    QCOMPARE(w->parentWidget(), &dialog);
    QCOMPARE(w->geometry(), rectangle);
    QCOMPARE(w->font().families(), dialog.font().families());
    QCOMPARE(w->font().pointSize(), pointSize ? pointSize : dialog.font().pointSize());
    QCOMPARE(w->font().weight(), QFont::Normal);
    QCOMPARE(w->font().bold(), false);
    if (auto *label = qobject_cast<QLabel *>(w)) {
        QCOMPARE(label->frameShape(), QFrame::NoFrame);
        QCOMPARE(label->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
        QCOMPARE(label->sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
        QCOMPARE(label->wordWrap(), QTest::currentDataTag() == QByteArray("label_2"));
    }
}

void TestAboutBx::pictures_data()
{
    QTest::addColumn<QString>("resource");
    QTest::addColumn<QSize>("pictureSize");

    QTest::newRow("QuorvaneIcon") << ":/new/prefix1/Logo.png" << QSize(566, 254);
    QTest::newRow("GNUIcon") << ":/new/prefix1/lgplv3-147x51.png" << QSize(147, 51);
}

void TestAboutBx::pictures()
{
    QFETCH(QString, resource);
    QFETCH(QSize, pictureSize);

    AboutBx dialog;
    auto *label = dialog.findChild<QLabel *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(label);
    // The picture has replaced the placeholder text "Logo".
    QCOMPARE(label->text(), QString());
    QVERIFY(label->hasScaledContents());
    QCOMPARE(label->pixmap().size(), pictureSize);
    QVERIFY(WindowHarness::samePicture(label->pixmap(), resource));
}

void TestAboutBx::productAndNoticeTexts_data()
{
    QTest::addColumn<QStringList>("paragraphs");

    QTest::newRow("label") << QStringList{QStringLiteral("Quorvane Zentaval V 1.0 Supported models:"),
                                          QStringLiteral("\u2219 Zentaval (731942K)"),
                                          QStringLiteral("For more information please visit: quorvane.com")};
    QTest::newRow("label_2") << QStringList{QStringLiteral(" https://www.gnu.org/licenses/lgpl-3.0.html")};
}

void TestAboutBx::productAndNoticeTexts()
{
    QFETCH(QStringList, paragraphs);

    AboutBx dialog;
    auto *label = dialog.findChild<QLabel *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(label);
    QVERIFY(Qt::mightBeRichText(label->text()));
    QTextDocument document;
    document.setHtml(label->text());
    QCOMPARE(document.toPlainText(), paragraphs.join(QLatin1Char('\n')));
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        QCOMPARE(block.blockFormat().topMargin(), 0.0);
        QCOMPARE(block.blockFormat().bottomMargin(), 0.0);
        const QTextCharFormat characters = block.begin().fragment().charFormat();
        QCOMPARE(characters.fontFamilies().toStringList(), QStringList{QStringLiteral("MS Shell Dlg 2")});
        QCOMPARE(characters.fontPointSize(), 10.0);
        QCOMPARE(characters.fontWeight(), int(QFont::Normal));
        // The addresses are plain text, not links.
        QVERIFY(!characters.isAnchor());
    }
}

void TestAboutBx::licenceIsTheRepositoryLicence()
{
    const QStringList lines = licenceLines();
    QCOMPARE(lines.size(), 165);
    QCOMPARE(lines.count(QString()), 37);

    AboutBx dialog;
    const QTextDocument *document = dialog.findChild<QTextEdit *>(QStringLiteral("LicenseTB"))->document();
    QCOMPARE(document->blockCount(), 165);
    QCOMPARE(document->firstBlock().text(), QStringLiteral("                   GNU LESSER GENERAL PUBLIC LICENSE"));
    QCOMPARE(document->findBlockByNumber(1).text(), QStringLiteral("                       Version 3, 29 June 2007"));
    QCOMPARE(document->findBlockByNumber(3).text(),
             QStringLiteral(" Copyright (C) 2007 Free Software Foundation, Inc. <https://fsf.org/>"));
    QCOMPARE(document->lastBlock().text(), QStringLiteral("Library."));
    QCOMPARE(document->toPlainText(), lines.join(QLatin1Char('\n')));
}

void TestAboutBx::licenceParagraphs()
{
    AboutBx dialog;
    const QTextDocument *document = dialog.findChild<QTextEdit *>(QStringLiteral("LicenseTB"))->document();
    int empty = 0;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        const bool first = block == document->firstBlock();
        const bool last = block == document->lastBlock();
        const QTextBlockFormat paragraph = block.blockFormat();
        QCOMPARE(paragraph.topMargin(), first ? 12.0 : 0.0);
        QCOMPARE(paragraph.bottomMargin(), last ? 12.0 : 0.0);
        QCOMPARE(paragraph.leftMargin(), 0.0);
        QCOMPARE(paragraph.rightMargin(), 0.0);
        QCOMPARE(paragraph.textIndent(), 0.0);

        // An empty paragraph carries the font on the paragraph itself.
        QTextCharFormat characters = block.charFormat();
        if (block.text().isEmpty())
            ++empty;
        else
            characters = block.begin().fragment().charFormat();
        QCOMPARE(characters.fontFamilies().toStringList(), QStringList{QStringLiteral("Courier New,courier")});
        QCOMPARE(characters.fontPointSize(), 8.0);
        QCOMPARE(characters.foreground().color(), QColor(0, 0, 0));
        QVERIFY(QFontInfo(characters.font()).fixedPitch());
    }
    QCOMPARE(empty, 37);
}

void TestAboutBx::licenceIsReadOnlyAndScrollable()
{
    AboutBx dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *licence = dialog.findChild<QTextEdit *>(QStringLiteral("LicenseTB"));
    QVERIFY(licence->isReadOnly());
    QVERIFY(licence->textInteractionFlags() & Qt::TextSelectableByMouse);
    QVERIFY(!(licence->textInteractionFlags() & Qt::TextEditable));

    const QString before = licence->toPlainText();
    licence->setFocus();
    QTest::keyClicks(licence, QStringLiteral("typed"));
    QTest::keyClick(licence, Qt::Key_Delete);
    QTest::keyClick(licence, Qt::Key_Backspace);
    QCOMPARE(licence->toPlainText(), before);

    QVERIFY(licence->verticalScrollBar()->maximum() > 0);
    licence->verticalScrollBar()->setValue(licence->verticalScrollBar()->maximum());
    QCOMPARE(licence->verticalScrollBar()->value(), licence->verticalScrollBar()->maximum());
}

void TestAboutBx::textsCanBeSelectedButOpenNothing()
{
    AboutBx dialog;
    for (const char *name : {"label", "label_2"}) {
        auto *label = dialog.findChild<QLabel *>(QString::fromLatin1(name));
        QVERIFY(label);
        QCOMPARE(label->textInteractionFlags(),
                 Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard | Qt::LinksAccessibleByMouse);
        QVERIFY(!label->openExternalLinks());
    }
}

void TestAboutBx::eachPressOfInfoOpensAnotherDialog()
{
    const std::unique_ptr<MainWindow> window = WindowHarness::makeWindow({});
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCommandLinkButton *info = window->form()->AboutBtn;

    const auto dialogs = [&window] { return window->findChildren<AboutBx *>(Qt::FindDirectChildrenOnly); };
    QCOMPARE(dialogs().size(), 0);
    QTest::mouseClick(info, Qt::LeftButton);
    QCOMPARE(dialogs().size(), 1);
    QTest::mouseClick(info, Qt::LeftButton);
    QCOMPARE(dialogs().size(), 2);

    const QList<AboutBx *> open = dialogs();
    QVERIFY(open.at(0) != open.at(1));
    for (AboutBx *dialog : open) {
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->isModal());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("About"));
    }
    // Modeless: the window still takes input while both are open.
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(window->isEnabled());

    // A closed dialog is gone (pressing Info all day keeps nothing alive);
    // the other stays open.
    open.at(0)->close();
    QTRY_COMPARE(dialogs().size(), 1);
    QVERIFY(dialogs().constFirst()->isVisible());
}

void TestAboutBx::screenshot()
{
    AboutBx dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QPixmap picture = dialog.grab();
    QCOMPARE(picture.size(), QSize(561, 341));

    const QString folder = qEnvironmentVariable("ZENTAVAL_TEST_ARTEFACTS");
    if (folder.isEmpty())
        QSKIP("ZENTAVAL_TEST_ARTEFACTS names no folder for the screenshot");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(picture.save(QDir(folder).filePath(QStringLiteral("about-dialog.png"))));
}

QTEST_MAIN(TestAboutBx)
#include "tst_aboutbx.moc"
