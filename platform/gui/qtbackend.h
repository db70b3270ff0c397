#pragma once
// The Qt side of the window thread: the backend of the facade in
// platform/ui over the QApplication. The program installs it once, on the
// main thread, before it starts any worker; the facade then reaches the
// window thread while a QApplication exists and is not closing down, and
// runs headless before and after.

namespace kv::platform::gui {

// Installs the Qt backend for the process; calling it again does no harm.
void InstallQtWindowBackend();

// A program whose windows nobody can see (offscreen) writes the text of
// every box to standard error and takes the box's safe answer instead of
// waiting for a click that cannot come.
void SetBoxesToStandardError(bool on);

}  // namespace kv::platform::gui
