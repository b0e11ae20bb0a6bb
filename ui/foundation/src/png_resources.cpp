#include "qovra/ui/png_resources.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <algorithm>
#include <mutex>

// The resources are compiled into this static library; their registration
// must be called for explicitly, from outside any namespace.
static void InitQovraPngResources() {
  Q_INIT_RESOURCE(qovra_png);
}

namespace qovra::ui {

namespace {

void EnsureResources() {
  static std::once_flag once;
  std::call_once(once, InitQovraPngResources);
}

bool HasTrueColourAlpha(const QImage& image) {
  switch (image.format()) {
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBA8888_Premultiplied:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
      return true;
    default:
      return false;
  }
}

int Adjust(int c, int brighten, int darken) {
  if (brighten <= 0 && darken <= 0) return c;
  return std::max(std::min(brighten + c, 255) - darken, 0);
}

int Mix(int l, int source, int dest) {
  return (l * source + (255 - l) * dest + 255) >> 8;
}

}  // namespace

QString PngResourcePath(const QString& name) {
  return QStringLiteral(":/png/") + name + ".png";
}

bool HasPngResource(const QString& name) {
  EnsureResources();
  return !name.isEmpty() && QFile::exists(PngResourcePath(name));
}

QImage LoadPngResource(const QString& name) {
  if (!HasPngResource(name)) return QImage();
  return QImage(PngResourcePath(name), "PNG");
}

QStringList PngResourceNames() {
  EnsureResources();
  QStringList names;
  for (const QString& file : QDir(QStringLiteral(":/png")).entryList(QDir::Files, QDir::Name)) {
    if (file.endsWith(QLatin1String(".png"))) names << file.left(file.size() - 4);
  }
  return names;
}

void BlendPng(QImage& dest, int x, int y, const QImage& source, int fade, bool grey, int brighten,
              int darken) {
  if (dest.format() != QImage::Format_RGB32 || source.isNull()) return;
  const bool effects = HasTrueColourAlpha(source);
  if (!effects) {
    fade = 0;
    grey = false;
  }
  const QImage src = source.convertToFormat(QImage::Format_ARGB32);
  for (int sy = 0; sy < src.height(); ++sy) {
    const int dy = y + sy;
    if (dy < 0 || dy >= dest.height()) continue;
    const auto* in = reinterpret_cast<const QRgb*>(src.constScanLine(sy));
    auto* out = reinterpret_cast<QRgb*>(dest.scanLine(dy));
    for (int sx = 0; sx < src.width(); ++sx) {
      const int dx = x + sx;
      if (dx < 0 || dx >= dest.width()) continue;
      const QRgb s = in[sx];
      const int alpha = qAlpha(s);
      const int l = fade < 1 ? alpha : (alpha * (255 - fade)) >> 8;
      int r = Adjust(qRed(s), brighten, darken);
      int g = Adjust(qGreen(s), brighten, darken);
      int b = Adjust(qBlue(s), brighten, darken);
      if (grey) r = g = b = (r + g + b) / 3;
      const QRgb d = out[dx];
      out[dx] = qRgb(Mix(l, r, qRed(d)), Mix(l, g, qGreen(d)), Mix(l, b, qBlue(d)));
    }
  }
}

QImage RenderOnWhite(const QImage& source, int mode) {
  QImage bitmap(source.size(), QImage::Format_RGB32);
  bitmap.fill(Qt::white);
  switch (mode) {
    case kPngPlain:
      BlendPng(bitmap, 0, 0, source, 0, false);
      break;
    case kPngFaded:
      BlendPng(bitmap, 0, 0, source, kPngFade, false);
      break;
    case kPngGreyFaded:
      BlendPng(bitmap, 0, 0, source, kPngFade, true);
      break;
    default:
      break;
  }
  return bitmap;
}

QPixmap WhiteAsTransparent(const QImage& bitmap) {
  QImage masked = bitmap.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < masked.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(masked.scanLine(y));
    for (int x = 0; x < masked.width(); ++x) {
      if ((line[x] & 0x00FFFFFFu) == 0x00FFFFFFu) line[x] = 0;
    }
  }
  return QPixmap::fromImage(masked);
}

int TImageList::Add(const QImage& bitmap) {
  pixmaps_.push_back(WhiteAsTransparent(bitmap));
  return Count() - 1;
}

QPixmap TImageList::Pixmap(int index) const {
  if (index < 0 || index >= Count()) return QPixmap();
  return pixmaps_[index];
}

QIcon TImageList::Icon(int index) const {
  const QPixmap pixmap = Pixmap(index);
  return pixmap.isNull() ? QIcon() : QIcon(pixmap);
}

bool DrawPngResource(QPainter& painter, int x, int y, const QString& name, const QColor& back) {
  const QImage image = LoadPngResource(name);
  if (image.isNull()) return false;
  if (back.isValid()) painter.fillRect(QRect(QPoint(x, y), image.size()), back);
  painter.drawImage(x, y, image);
  return true;
}

bool AddPngResourceToImageList(TImageList& list, const QString& name, int mode) {
  const QImage image = LoadPngResource(name);
  if (image.isNull()) return false;
  list.Add(RenderOnWhite(image, mode));
  return true;
}

QImage AssignPngResource(const QString& name) {
  const QImage image = LoadPngResource(name);
  if (image.isNull()) return QImage();
  return RenderOnWhite(image, kPngPlain);
}

QIcon MainIcon() {
  QIcon icon;
  for (const char* name : {"MAINICON16", "MAINICON32", "MAINICON48"}) {
    const QImage image = LoadPngResource(QString::fromLatin1(name));
    if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}

QStringList ReplyFamilyIcons32() {
  return {QStringLiteral("ico_mail_reply32"), QStringLiteral("ico_mail_reply_voice32"),
          QStringLiteral("ico_mail_reply_all32"), QStringLiteral("ico_mail_forward32")};
}

QStringList FolderIcons24() {
  return {QStringLiteral("ico_folder_inbox24"),  QStringLiteral("ico_folder_outbox24"),
          QStringLiteral("ico_folder_sent24"),   QStringLiteral("ico_folder_trash24"),
          QStringLiteral("ico_folder_drafts24"), QStringLiteral("ico_folder24")};
}

}  // namespace qovra::ui
