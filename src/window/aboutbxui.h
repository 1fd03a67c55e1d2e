#pragma once

class AboutBx;
class QLabel;
class QTextEdit;

// The about dialog's form record: one non-owning pointer per widget, each
// named after its widget.
class AboutBxUi
{
public:
    QLabel *QuorvaneIcon;
    QLabel *GNUIcon;
    QTextEdit *LicenseTB;
    QLabel *label;
    QLabel *label_2;

    void setupUi(AboutBx *dialog);
    void retranslateUi(AboutBx *dialog);
};
