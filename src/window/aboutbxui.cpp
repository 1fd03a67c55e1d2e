#include "window/aboutbxui.h"

#include "window/aboutbx.h"
#include "window/licencetext.h"

#include <QCoreApplication>
#include <QFile>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QMetaObject>
#include <QStringList>
#include <QTextEdit>

// The compiled-in licence text; empty, with a warning, if it is missing.
static QString licenceText()
{
    QFile file(QString::fromLatin1(LicenceResource));
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("The licence text %s is not compiled in", LicenceResource);
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

// The licence as rich text: one paragraph per line of its plain-text form, in
// a monospaced font, with the spaces that centre its headings kept.
static QString licenceDocument(const QString &plainText)
{
    QStringList lines = QString(plainText).remove(QLatin1Char('\r')).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast(); // the text ends with a line feed, not with an empty line

    QString document = QStringLiteral(
        "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" \"http://www.w3.org/TR/REC-html40/strict.dtd\">\n"
        "<html><head><meta name=\"qrichtext\" content=\"1\" /><style type=\"text/css\">\n"
        "p, li { white-space: pre-wrap; }\n"
        "</style></head><body style=\" font-family:'MS Shell Dlg 2'; font-size:8.25pt; font-weight:400; "
        "font-style:normal;\">");
    const QString characters
        = QStringLiteral("font-family:'Courier New,courier'; font-size:8pt; color:#000000;");
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString margins
            = QStringLiteral(" margin-top:%1px; margin-bottom:%2px; margin-left:0px; margin-right:0px;"
                             " -qt-block-indent:0; text-indent:0px;")
                  .arg(i == 0 ? 12 : 0)
                  .arg(i == lines.size() - 1 ? 12 : 0);
        document += QLatin1Char('\n');
        if (lines.at(i).isEmpty())
            document += QStringLiteral("<p style=\"-qt-paragraph-type:empty;%1 %2\"><br /></p>")
                            .arg(margins, characters);
        else
            document += QStringLiteral("<p style=\"%1\"><span style=\" %2\">%3</span></p>")
                            .arg(margins, characters, lines.at(i).toHtmlEscaped());
    }
    document += QStringLiteral("</body></html>");
    return document;
}

void AboutBxUi::setupUi(AboutBx *dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName("AboutBx");
    dialog->resize(561, 341);
    QIcon icon;
    icon.addFile(QString::fromUtf8(":/new/prefix1/HelpIcon.png"), QSize(), QIcon::Normal, QIcon::Off);
    dialog->setWindowIcon(icon);

    QuorvaneIcon = new QLabel(dialog);
    QuorvaneIcon->setObjectName("QuorvaneIcon");
    QuorvaneIcon->setGeometry(QRect(10, 10, 100, 45));
    QSizePolicy sizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    sizePolicy.setHorizontalStretch(0);
    sizePolicy.setVerticalStretch(0);
    sizePolicy.setHeightForWidth(QuorvaneIcon->sizePolicy().hasHeightForWidth());
    QuorvaneIcon->setSizePolicy(sizePolicy);
    QuorvaneIcon->setFrameShape(QFrame::NoFrame);

    GNUIcon = new QLabel(dialog);
    GNUIcon->setObjectName("GNUIcon");
    GNUIcon->setGeometry(QRect(10, 120, 100, 35));
    sizePolicy.setHeightForWidth(GNUIcon->sizePolicy().hasHeightForWidth());
    GNUIcon->setSizePolicy(sizePolicy);
    GNUIcon->setFrameShape(QFrame::NoFrame);

    LicenseTB = new QTextEdit(dialog);
    LicenseTB->setObjectName("LicenseTB");
    LicenseTB->setGeometry(QRect(10, 190, 541, 141));
    LicenseTB->setReadOnly(true);

    const Qt::TextInteractionFlags selectable
        = Qt::LinksAccessibleByMouse | Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard;
    QFont font;
    font.setPointSize(10);
    font.setBold(false);

    label = new QLabel(dialog);
    label->setObjectName("label");
    label->setGeometry(QRect(120, 10, 431, 101));
    label->setFont(font);
    label->setFrameShape(QFrame::NoFrame);
    label->setOpenExternalLinks(false);
    label->setTextInteractionFlags(selectable);

    label_2 = new QLabel(dialog);
    label_2->setObjectName("label_2");
    label_2->setGeometry(QRect(120, 120, 431, 51));
    label_2->setFont(font);
    label_2->setFrameShape(QFrame::NoFrame);
    label_2->setWordWrap(true);
    label_2->setOpenExternalLinks(false);
    label_2->setTextInteractionFlags(selectable);

    retranslateUi(dialog);

    QMetaObject::connectSlotsByName(dialog);
}

void AboutBxUi::retranslateUi(AboutBx *dialog)
{
    dialog->setWindowTitle(QCoreApplication::translate("AboutBx", "About", nullptr));
    QuorvaneIcon->setText(QCoreApplication::translate("AboutBx", "Logo", nullptr));
    GNUIcon->setText(QCoreApplication::translate("AboutBx", "Logo", nullptr));
    // The licence document is built from the compiled-in text and then looked
    // up like every other text of the dialog.
    LicenseTB->setHtml(
        QCoreApplication::translate("AboutBx", licenceDocument(licenceText()).toUtf8().constData(), nullptr));
    // "\xE2\x88\x99" is U+2219 BULLET OPERATOR in UTF-8.
    label->setText(QCoreApplication::translate(
        "AboutBx",
        "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" \"http://www.w3.org/TR/REC-html40/strict.dtd\">\n"
        "<html><head><meta name=\"qrichtext\" content=\"1\" /><style type=\"text/css\">\n"
        "p, li { white-space: pre-wrap; }\n"
        "</style></head><body style=\" font-family:'MS Shell Dlg 2'; font-size:10pt; font-weight:400; "
        "font-style:normal;\">\n"
        "<p style=\" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; "
        "-qt-block-indent:0; text-indent:0px;\">Quorvane Zentaval V 1.0 Supported models:</p>\n"
        "<p style=\" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; "
        "-qt-block-indent:0; text-indent:0px;\">\xE2\x88\x99 Zentaval (731942K)</p>\n"
        "<p style=\" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; "
        "-qt-block-indent:0; text-indent:0px;\">For more information please visit: "
        "quorvane.com</p></body></html>",
        nullptr));
    label_2->setText(QCoreApplication::translate(
        "AboutBx",
        "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" \"http://www.w3.org/TR/REC-html40/strict.dtd\">\n"
        "<html><head><meta name=\"qrichtext\" content=\"1\" /><style type=\"text/css\">\n"
        "p, li { white-space: pre-wrap; }\n"
        "</style></head><body style=\" font-family:'MS Shell Dlg 2'; font-size:10pt; font-weight:400; "
        "font-style:normal;\">\n"
        "<p style=\" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; "
        "-qt-block-indent:0; text-indent:0px;\"> "
        "https://www.gnu.org/licenses/lgpl-3.0.html</p></body></html>",
        nullptr));
}
