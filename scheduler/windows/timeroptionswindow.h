#pragma once
// TtfTimerOptions: the scheduler's settings window. A tree of pages on the
// left, the chosen page on the right: a help text at its top, the controls
// below. It edits the run options of "Timer.ini" and whether (and to which
// address) the selected profile's error protocol is mailed. There is no
// cancel: every close writes the values back (TTimerOptionsModel).
#include <QDialog>

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "scheduler/timeroptions.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTextEdit;
class QToolButton;
class QTreeWidget;

namespace kv {

inline constexpr char kOptionsCaption[] = "Einstellungen für den Timer";
inline constexpr int kOptionsWidth = 783;
inline constexpr int kOptionsHeight = 539;
inline constexpr int kMailAddressLength = 60;

class TtfTimerOptions : public QDialog {
  Q_OBJECT

 public:
  // FormCreate: laid out for 96 dpi and scaled for dpi (the screen's when
  // not given); reads the options from iniFileName.
  explicit TtfTimerOptions(std::string iniFileName, QWidget* parent = nullptr, std::optional<int> dpi = std::nullopt);

  // What the opener sets before it shows the window: the folder of
  // "Timer.dat" (ending in "\"), then the profile number ("" for none).
  void setScheduleFolder(std::string folder) { model_.SetScheduleFolder(std::move(folder)); }
  void LoadProfileMail(std::string_view profileNo);

  QTreeWidget* tvTOpts() const { return tvTOpts_; }
  QWidget* page(TOptionsPage page) const;
  QTextEdit* helpView(TOptionsPage page) const;
  // The page shown; None when none is.
  TOptionsPage shownPage() const;

 public slots:
  // FormClose: every way of closing ends here and writes the values back.
  void done(int result) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void CreateToolBar();
  void CreateTree();
  void CreateStartPage();
  void CreateKDelPage();
  void CreateMailPage();
  QWidget* CreatePage(TOptionsPage page, const char* name, QTextEdit* help, int helpHeight);
  void WriteHelpTexts();
  void ShowOptions(const TRunOptions& options);
  TRunOptions CurrentOptions() const;
  void ShowProfileMail(const TProfileMail& mail);
  void SetAddress(const QString& address);
  void Relayout();
  void DragSplitter(int dx);
  void tvTOptsChange(int absoluteIndex);

  TTimerOptionsModel model_;
  QWidget* toolBar1_ = nullptr;
  QToolButton* sbClose_ = nullptr;
  QTreeWidget* tvTOpts_ = nullptr;
  QWidget* splitter1_ = nullptr;
  std::array<QWidget*, 5> pages_{};
  std::array<QTextEdit*, 5> helpViews_{};
  QCheckBox* cbShowProcess_ = nullptr;
  QCheckBox* cbMinimized_ = nullptr;
  QSpinBox* spKDel_ = nullptr;
  QCheckBox* cbCheckDeletes_ = nullptr;
  QLineEdit* teMailAdress_ = nullptr;
  QCheckBox* cbActive_ = nullptr;
  QLabel* label2_ = nullptr;
  QLabel* tlNoProfile_ = nullptr;
};

}  // namespace kv
