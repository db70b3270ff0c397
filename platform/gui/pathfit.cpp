#include "platform/gui/pathfit.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QString>

namespace kv::platform::gui {

std::string MinimizeNamePixels(std::string_view path, const QFont& font, int maxPixels) {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
    return ui::MinimizeNameChars(path, maxPixels / ui::kHeadlessCharWidth);
  const QFontMetrics metrics(font);
  return ui::MinimizeName(path, maxPixels, [&](std::string_view text) {
    return metrics.horizontalAdvance(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  });
}

}  // namespace kv::platform::gui
