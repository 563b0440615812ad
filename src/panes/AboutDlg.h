// The modal About box: title with version, the maker's lines with two links, the emblem.
#pragma once

#include <QDialog>
#include <QPixmap>

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    // The product emblem, 128 x 263 pixels, painted on first use.
    static QPixmap Emblem();

private:
    void OnWebLink();
    void OnMailLink();
};
