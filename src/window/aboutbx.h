#pragma once

#include <QDialog>

class AboutBxUi;

// The Info button's about dialog.
class AboutBx : public QDialog
{
    Q_OBJECT

public:
    explicit AboutBx(QWidget *parent = nullptr);
    ~AboutBx() override;

private:
    AboutBxUi *ui;
};
