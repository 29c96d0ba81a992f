#pragma once

#include <QImage>
#include <QWidget>

// Draws one picture as large as the widget allows, keeping its proportions, centred on the
// window colour; it follows every resize without rescaling a stored copy.
class PictureView : public QWidget {
    Q_OBJECT
public:
    explicit PictureView(QWidget* parent = nullptr);

    void setImage(const QImage& image);
    const QImage& image() const { return image_; }
    // Where the picture lands inside the widget now.
    QRect pictureRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};
