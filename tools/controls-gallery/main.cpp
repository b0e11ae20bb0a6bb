// Shows every control of qovra_controls in one window and saves it as PNG.
//
//   controls-gallery --out <folder>
//
// Writes <folder>/controls.png (the window, with the open balloon tip drawn
// where it sits) and, on a platform with a real screen (Xvfb),
// <folder>/controls-screen.png, the screen around the window.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <cstdio>

#include "qovra/controls/balloon_tip.h"
#include "qovra/controls/button_edit.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/controls/panel_ex.h"
#include "qovra/controls/progress_bar_ex.h"
#include "qovra/controls/search_edit_frame.h"
#include "qovra/controls/size_grip.h"
#include "qovra/controls/web_link.h"

namespace {

using namespace qovra::ui;

void Settle(int ms = 200) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

QLabel* Caption(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

TProgressBarEx* Bar(QWidget* parent, int progress) {
  auto* bar = new TProgressBarEx(parent);
  bar->setFixedSize(180, 18);
  bar->SetProgress(progress);
  return bar;
}

// Everything in a grid: a caption on the left, the control on the right.
class Gallery : public QWidget {
 public:
  Gallery() {
    setWindowTitle(QStringLiteral("Controls"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* body = new QWidget(this);
    auto* grid = new QGridLayout(body);
    grid->setContentsMargins(12, 12, 12, 12);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(6);
    outer->addWidget(body, 1);
    int row = 0;
    auto add = [&](const QString& caption, QWidget* control) {
      grid->addWidget(Caption(caption, body), row, 0);
      grid->addWidget(control, row, 1, Qt::AlignLeft | Qt::AlignVCenter);
      ++row;
    };

    auto* login = new TEditEx(body);
    login->setFixedWidth(220);
    login->SetAcceptableChars(LoginCharSet());
    login->SetPlaceHolder(QStringLiteral("Login"));
    add(QStringLiteral("TEditEx, placeholder"), login);
    balloon_field_ = login;

    auto* plain = new TEditEx(body);
    plain->setFixedWidth(220);
    plain->setText(QStringLiteral("client edge (default)"));
    add(QStringLiteral("TEditEx"), plain);

    auto* border = new TEditEx(body);
    border->setFixedWidth(220);
    border->SetEditBorderStyle(TEditBorderStyle::ebsBorder);
    border->setText(QStringLiteral("ebsBorder, centred"));
    border->SetTextAlignment(TEditTextAlignment::etaCenter);
    add(QStringLiteral("TEditEx"), border);

    auto* edge = new TEditEx(body);
    edge->setFixedWidth(220);
    edge->SetEditBorderStyle(TEditBorderStyle::ebsStaticEdge);
    edge->setText(QStringLiteral("ebsStaticEdge, right"));
    edge->SetTextAlignment(TEditTextAlignment::etaRight);
    add(QStringLiteral("TEditEx"), edge);

    auto* numbers = new TEditEx(body);
    numbers->setFixedWidth(80);
    numbers->SetNumbersOnly(true);
    add(QStringLiteral("TEditEx, NumbersOnly"), numbers);

    auto* password = new TEditEx(body);
    password->setFixedWidth(220);
    password->setEchoMode(QLineEdit::Password);
    password->setText(QStringLiteral("secret"));
    add(QStringLiteral("TEditEx, password"), password);

    auto* multiline = new TEditEx(body);
    multiline->setFixedSize(220, 58);
    multiline->SetMultiline(true);
    multiline->setText(
        QStringLiteral("First line\nSecond line\nThird line\nFourth line, under the fold"));
    add(QStringLiteral("TEditEx, Multiline"), multiline);

    auto* button_edit = new TButtonEdit(body);
    button_edit->setFixedWidth(220);
    button_edit->setText(QStringLiteral("a text long enough to reach the button"));
    button_edit->setCursorPosition(0);
    add(QStringLiteral("TButtonEdit"), button_edit);

    auto* links = new QWidget(body);
    auto* link_row = new QHBoxLayout(links);
    link_row->setContentsMargins(0, 0, 0, 0);
    auto* normal = new TWebLink(links);
    normal->SetCaption(QStringLiteral("Register"));
    auto* hot = new TWebLink(links);
    hot->SetCaption(QStringLiteral("Forgot password?"));
    hot->SetFontColor(hot->HotFontColor());
    focused_link_ = new TWebLink(links);
    focused_link_->SetCaption(QStringLiteral("Settings (focused)"));
    link_row->addWidget(normal);
    link_row->addWidget(hot);
    link_row->addWidget(focused_link_);
    add(QStringLiteral("TWebLink: normal, hot, focused"), links);

    add(QStringLiteral("TProgressBarEx 0%"), Bar(body, 0));
    add(QStringLiteral("TProgressBarEx 37%"), Bar(body, 37));
    add(QStringLiteral("TProgressBarEx 50%"), Bar(body, 50));
    add(QStringLiteral("TProgressBarEx 100%"), Bar(body, 100));
    auto* window_bar = Bar(body, 64);
    window_bar->SetAColor(QColor(158, 180, 194));
    window_bar->SetBColor(QColor(92, 124, 148));
    add(QStringLiteral("progress window colours"), window_bar);

    auto* search_empty = new TframeSearchEdit(body);
    add(QStringLiteral("TframeSearchEdit"), search_empty);
    auto* search = new TframeSearchEdit(body);
    search->eSearch()->setText(QStringLiteral("ivanov"));
    add(QStringLiteral("TframeSearchEdit, text"), search);

    auto* panels = new QWidget(body);
    auto* panel_row = new QHBoxLayout(panels);
    panel_row->setContentsMargins(0, 0, 0, 0);
    for (TBevelEdges borders :
         {kAllBevelEdges, TBevelEdges{beBottom}, TBevelEdges{beLeft | beTop}}) {
      auto* panel = new TPanelEx(panels);
      panel->setFixedSize(70, 36);
      panel->SetBorders(borders);
      panel->SetColor(QColor(255, 255, 255));
      panel_row->addWidget(panel);
    }
    add(QStringLiteral("TPanelEx: all, bottom, left+top"), panels);

    auto* status = new TPanelEx(this);
    status->setFixedHeight(22);
    status->SetBorders(beTop);
    auto* status_text = new QLabel(QStringLiteral("TSizeGrip on a TPanelEx status bar"), status);
    status_text->move(6, 3);
    outer->addWidget(status);
    auto* grip = new TSizeGrip(this);
    grip->PlaceOnPanel(status);
  }

  void Decorate() {
    focused_link_->setFocus();
    ShowBalloon(balloon_field_, QStringLiteral("Недопустимый символ"),
                QStringLiteral("Допускается ввести следующие символы: буквы латиницы, цифры, "
                               "символ нижной подчеркивании (_) и точка"),
                TBalloonIcon::Error, 0);
  }

 private:
  QWidget* balloon_field_ = nullptr;
  TWebLink* focused_link_ = nullptr;
};

bool Save(const QPixmap& pixmap, const QString& file) {
  if (pixmap.isNull() || !pixmap.save(file, "PNG")) {
    std::fprintf(stderr, "controls-gallery: cannot write %s\n", qPrintable(file));
    return false;
  }
  std::printf("%s\n", qPrintable(file));
  return true;
}

// The window's picture with every visible tool-tip window of it (the balloon)
// drawn where it sits; the picture grows to hold them.
QPixmap Compose(QWidget* window) {
  const QPixmap base = window->grab();
  const QPoint origin = window->mapToGlobal(QPoint(0, 0));
  QRect bounds(QPoint(0, 0), base.size() / base.devicePixelRatio());
  QList<QWidget*> tips;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w != window && w->isVisible() && (w->windowFlags() & Qt::ToolTip) == Qt::ToolTip) {
      tips.append(w);
      bounds |= QRect(w->pos() - origin, w->size());
    }
  }
  QPixmap out(bounds.size());
  out.fill(QColor(128, 128, 128));
  QPainter p(&out);
  p.drawPixmap(-bounds.topLeft(), base);
  for (QWidget* tip : tips) {
    const QPoint at = tip->pos() - origin - bounds.topLeft();
    p.setClipRegion(tip->mask().isEmpty() ? QRegion(tip->rect()).translated(at)
                                          : tip->mask().translated(at));
    p.drawPixmap(at, tip->grab());
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QString out = QStringLiteral(".");
  const QStringList args = app.arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == QStringLiteral("--out") && i + 1 < args.size()) {
      out = args[++i];
    } else {
      std::fprintf(stderr, "usage: controls-gallery --out <folder>\n");
      return 2;
    }
  }
  if (!QDir().mkpath(out)) {
    std::fprintf(stderr, "controls-gallery: cannot create %s\n", qPrintable(out));
    return 1;
  }

  Gallery gallery;
  gallery.move(40, 40);
  gallery.show();
  gallery.activateWindow();
  Settle();
  gallery.Decorate();
  Settle();

  bool ok = Save(Compose(&gallery), out + QStringLiteral("/controls.png"));
  if (QGuiApplication::platformName() != QStringLiteral("offscreen")) {
    if (QScreen* screen = gallery.screen()) {
      const QRect around = gallery.frameGeometry().adjusted(-20, -20, 20, 80);
      ok = Save(screen->grabWindow(0, around.x(), around.y(), around.width(), around.height()),
                out + QStringLiteral("/controls-screen.png")) &&
           ok;
    }
  }
  return ok ? 0 : 1;
}
