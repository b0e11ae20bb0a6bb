// The program's PNG resources and the ways of drawing them: plain, faded,
// or grey and faded.
//
// The resources are compiled into qovra_ui under the names the windows use
// ("ico_error48", "audio_play16", "MAINICON48", ...); they are made at build
// time from the Tango icon theme (resources/icons/icons.map).
//
// Faded and grey drawing apply to true-colour images with an alpha channel
// only; every other image (palette, opaque) is drawn plainly. A pixel is
// blended onto the destination with the opacity l = alpha (fade below 1) or
// (alpha * (255 - fade)) >> 8, each channel becoming
// (l * source + (255 - l) * destination + 255) >> 8; grey drawing takes the
// truncated mean of red, green and blue as the source of all three.
//
// GUI thread only.
#pragma once

#include <QIcon>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QStringList>

class QPainter;

namespace qovra::ui {

// Drawing modes of AddPngResourceToImageList and RenderOnWhite.
constexpr int kPngPlain = 0;
constexpr int kPngFaded = 1;
constexpr int kPngGreyFaded = 2;

// The fade value the program always uses: halves the opacity.
constexpr int kPngFade = 127;

// The resource path of name (":/png/<name>.png").
QString PngResourcePath(const QString& name);
bool HasPngResource(const QString& name);
// The image of resource name; a null image when there is no such resource.
QImage LoadPngResource(const QString& name);
// Every resource name compiled in, sorted.
QStringList PngResourceNames();

// Blends source onto dest (which must be Format_RGB32) with its top-left at
// (x, y), by the formula above. fade below 1 keeps the source's opacity;
// grey draws the mean of the channels; brighten and darken adjust each
// source channel to max(min(brighten + c, 255) - darken, 0) when either is
// above 0. Images without a true-colour alpha channel are drawn plainly
// whatever fade and grey say.
void BlendPng(QImage& dest, int x, int y, const QImage& source, int fade, bool grey,
              int brighten = 0, int darken = 0);

// A white Format_RGB32 image of source's size with source drawn on it in
// mode (kPng*); any other mode leaves it white.
QImage RenderOnWhite(const QImage& source, int mode);

// A pixmap of bitmap in which every pure white pixel is transparent: white
// is the mask colour of image lists and transparent images.
QPixmap WhiteAsTransparent(const QImage& bitmap);

// A list of equally sized pictures, addressed by index (the order of Add).
class TImageList {
 public:
  // Adds bitmap with white as the mask colour; returns its index.
  int Add(const QImage& bitmap);
  int Count() const { return static_cast<int>(pixmaps_.size()); }
  // The picture at index; a null pixmap when index is out of range.
  QPixmap Pixmap(int index) const;
  QIcon Icon(int index) const;
  void Clear() { pixmaps_.clear(); }

 private:
  QList<QPixmap> pixmaps_;
};

// Fills the image's rectangle at (x, y) with back unless back is invalid
// (no colour), then draws resource name there with its alpha channel.
// Returns false, drawing nothing, when the resource does not exist.
bool DrawPngResource(QPainter& painter, int x, int y, const QString& name, const QColor& back);

// Renders resource name onto a white bitmap in mode and adds it to list.
// Returns false, adding nothing, when the resource does not exist.
bool AddPngResourceToImageList(TImageList& list, const QString& name, int mode);

// Resource name drawn plainly onto a white bitmap of its size; a null image
// when the resource does not exist.
QImage AssignPngResource(const QString& name);

// The program's icon (MAINICON) at 16, 32 and 48 pixels.
QIcon MainIcon();

// Icon groups that the windows load in a fixed order.
// The reply family of the 32-pixel toolbar list: reply, voice reply, reply
// to all, forward.
QStringList ReplyFamilyIcons32();
// The folder pictures of the folder tree: inbox, outbox, sent, trash,
// drafts, and a plain folder.
QStringList FolderIcons24();

}  // namespace qovra::ui
