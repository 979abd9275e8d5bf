#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

namespace ordavo {

// A cover picture area: the image stretched over the whole area with smooth resampling, the
// aspect ratio not kept; white when there is no cover or its file is missing or unreadable.
class CoverView : public QWidget {
    Q_OBJECT
public:
    explicit CoverView(QWidget* parent = nullptr);

    // Shows the image at `path`, or the white placeholder for an empty path.
    void showCover(const QString& path);
    // Shows an image already decoded by decodeImage() for this view's size.
    void showDecoded(const QString& path, QImage image);
    // The image at `path` decoded at `target` size (or smaller, if it is smaller); a null image
    // for an empty path, a missing or undecodable file and absurd dimensions. Safe to run on
    // another thread.
    static QImage decodeImage(const QString& path, QSize target);
    // The size decodeImage() should aim at for this view.
    QSize decodeSize() const;
    const QString& path() const { return m_path; }
    // Whether an image (not the placeholder) is drawn.
    bool hasImage() const { return !m_image.isNull(); }
    const QImage& image() const { return m_image; }

    // Images larger than this many pixels are refused rather than decoded.
    static constexpr qint64 kMaxPixels = qint64{20000} * 20000;

    QSize sizeHint() const override { return {171, 211}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void decode();

    QString m_path;
    QImage m_image;
    QImage m_placeholder;
};

}  // namespace ordavo
