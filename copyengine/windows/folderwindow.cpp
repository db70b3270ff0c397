#include "copyengine/windows/folderwindow.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QPalette>

#include <string>

#include "platform/gui/geometry.h"
#include "platform/gui/pathfit.h"

namespace kv {
namespace {

namespace gui = platform::gui;

constexpr int kFolderRightGap = 5;

QLabel* NewLabel(QWidget* parent, const FolderWindowLabel& spec) {
  auto* label = new QLabel(QString::fromUtf8(spec.text), parent);
  label->setObjectName(QString::fromLatin1(spec.name));
  if (spec.color != Qt::black) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, spec.color);
    label->setPalette(palette);
  }
  label->adjustSize();
  label->move(spec.left, spec.top);
  return label;
}

}  // namespace

TFolderWindow::TFolderWindow(const FolderWindowLayout& layout, std::optional<int> dpi)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QString::fromLatin1(layout.objectName));
  setWindowTitle(QString::fromUtf8(layout.caption));
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  resize(layout.width, layout.height);
  for (const FolderWindowLabel& spec : layout.labels) NewLabel(this, spec);
  tlSrcFldr_ = label("tlSrcFldr");
  tlDestFldr_ = label("tlDestFldr");
  // The path lines reach to the right edge less the gap.
  for (QLabel* value : {tlSrcFldr_, tlDestFldr_}) {
    value->resize(layout.width - value->x() - kFolderRightGap, value->height());
  }
  gui::ScaleWindow(*this, dpi ? *dpi : gui::ScreenDpi(this));
  setFixedSize(size());
  gui::CenterOnDesktop(*this);
}

QLabel* TFolderWindow::label(const char* name) const { return findChild<QLabel*>(QString::fromLatin1(name)); }

int TFolderWindow::folderWidth() const { return width() - tlSrcFldr_->x() - kFolderRightGap; }

void TFolderWindow::ShowFolders(std::string_view source, std::string_view dest) {
  tlSrcFldr_->setText(QString::fromStdString(gui::MinimizeNamePixels(source, tlSrcFldr_->font(), folderWidth())));
  tlDestFldr_->setText(QString::fromStdString(gui::MinimizeNamePixels(dest, tlDestFldr_->font(), folderWidth())));
}

void TFolderWindow::closeEvent(QCloseEvent* event) { event->ignore(); }

}  // namespace kv
