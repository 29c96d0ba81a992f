#pragma once

#include <QDialog>
#include <QLabel>

class QBoxLayout;
class QDialogButtonBox;
class QIcon;

// A web address in a label. Addresses rarely have blanks to break at, so it wraps after a slash
// or a dot where it can and at any character where it must, instead of widening the window.
class UrlLabel : public QLabel {
public:
    explicit UrlLabel(QWidget* parent = nullptr);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int textHeight(int width) const;
};

// The picture at a prompt's left, from the desktop's icon theme when it has one.
QLabel* PromptPicture(QWidget* parent, const QString& themeName, const QIcon& fallback);

// A prompt's usual frame: picture on the left, the controls beside it, buttons underneath.
// Returns the column the controls go into.
QBoxLayout* PromptLayout(QWidget* dialog, QLabel* picture, QDialogButtonBox* buttons);

// A prompt opens at a width that fits a sentence or two of its font, and tall enough for its
// wrapped texts at that width (Qt sizes a new window for the wrapped texts' own narrower hint).
class PromptDialog : public QDialog {
public:
    explicit PromptDialog(QWidget* parent);
    QSize sizeHint() const override;
};
