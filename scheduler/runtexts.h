#pragma once
// The texts of the records the run thread writes into a protocol itself.
#include <string_view>

namespace kv {

inline constexpr std::string_view kMsgDriveUnavailable = "Mindestens ein Laufwerk ist nicht verfügbar!";
inline constexpr std::string_view kMsgCriticalDeleteBefore = "Die kritische Löschmenge von ";
inline constexpr std::string_view kMsgCriticalDeleteAfter = " % wurde überschritten! Der Abgleich wurde abgebrochen!";
inline constexpr std::string_view kMsgFileMoved = "Die Datei wurde verschoben";
inline constexpr std::string_view kMsgUnstableDrive =
    "Laufwerk wurde aus dem Abgleichvorgang entfernt, da eine Instabilität entdeckt wurde!";
inline constexpr std::string_view kUnstableDriveSuffix = "\\ Laufwerk instabil!";

}  // namespace kv
