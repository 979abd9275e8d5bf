#include "app/cover_view.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QResizeEvent>

namespace ordavo {

CoverView::CoverView(QWidget* parent)
    : QWidget(parent), m_placeholder(QStringLiteral(":/ordavo/placeholder.png")) {
    setMinimumSize(80, 90);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void CoverView::showCover(const QString& path) {
    m_path = path;
    decode();
    update();
}

void CoverView::showDecoded(const QString& path, QImage image) {
    m_path = path;
    m_image = std::move(image);
    update();
}

QSize CoverView::decodeSize() const {
    return (size() * devicePixelRatioF()).expandedTo(QSize(1, 1));
}

QImage CoverView::decodeImage(const QString& path, QSize target) {
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        return {};
    }
    QImageReader reader(path);
    reader.setAutoTransform(false);
    const QSize full = reader.size();
    if (!full.isValid() || qint64{full.width()} * full.height() > kMaxPixels) {
        return {};  // unreadable header or absurd dimensions: the placeholder shows instead
    }
    // Decode at the size the picture is drawn at: a large scan never sits in memory whole.
    if (full.width() > target.width() || full.height() > target.height()) {
        reader.setScaledSize(target);
    }
    return reader.read();
}

void CoverView::decode() {
    m_image = decodeImage(m_path, decodeSize());
}

void CoverView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), m_image.isNull() ? m_placeholder : m_image);
}

void CoverView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!m_path.isEmpty() && event->oldSize() != event->size()) {
        decode();
    }
}

}  // namespace ordavo
