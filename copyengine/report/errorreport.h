#pragma once
// The error report of an automatic run: the finished protocol as a boxed
// plain-text file "Kestrovane_Protokoll.txt", mailed as an attachment to the
// schedule entry's address and deleted again. The copy engine makes it at
// the end of CopyFiles, the scheduler when it closed a protocol itself, both
// with this code. A protocol without a failed record (status above 1) gives
// no report.
//
// Every line ends in CR LF; widths count characters, not bytes:
//   74 "*", then boxed lines (padded with blanks to 73, closed by "*"): the
//   profile, the duration and copy amount of the trailer, the column titles
//   and one row per distinct failed message with its count;
//   74 "*", an empty line, "Folgende Fehler ...": one block per failed
//   record, after the block of its folder record;
//   74 "*", an empty line, "Folgende Aktionen ...": the same for the records
//   carried out.
// A long message part breaks at the last blank after the line's prefix that
// still fits, or, without one, at the width, never inside a character.
#include <chrono>
#include <string>
#include <string_view>

#include "copyengine/protocol.h"
#include "platform/filestream.h"
#include "platform/mail.h"
#include "shared/ptkitem.h"

namespace kv {

inline constexpr std::string_view kReportFileName = "Kestrovane_Protokoll.txt";
inline constexpr std::string_view kReportSubject = "Kestrovane Fehlerprotokoll";
inline constexpr std::string_view kReportMailBody =
    "Beim Abgleich eines Profils, durch den Kestrovane Timer, sind Fehler aufgetreten!\r\n"
    "\r\n"
    "Im Anhang befindet sich das Fehlerprotokoll. Um das Protokoll in einem besser\r\n"
    "lesbaren Format zu sehen können Sie dieses auch im Kestrovane einsehen.\r\n";

// Where the report's lines go: a file, written in large pieces, or (without
// one) a text kept in memory. A write error throws ProtocolError.
class TReportText {
 public:
  explicit TReportText(platform::FileStream* file = nullptr) : file_(file) {}
  void Line(std::string_view line);
  void Flush();
  const std::string& text() const { return buffer_; }

 private:
  platform::FileStream* file_;
  std::string buffer_;
};

enum class TBlockStyle { Folder, File };

// One boxed line of the head: padded with blanks to 73 characters and closed
// with "*"; a longer text only gets the "*".
void WriteReportLine(TReportText& out, std::string_view text);
// The block of one record with its label ("OK" or "ERROR").
void WritePtkBlock(TReportText& out, const TPtkItem& record, std::string_view label, TBlockStyle style);

// The whole report of the protocol; false, with nothing written, when no
// record failed. profileName is named in the title.
bool WriteErrorReport(ProtocolStream& protocol, std::string_view profileName, TReportText& out);

// The report of the protocol file, mailed to address and deleted again. The
// file gets a name of its own in the private temporary folder, so that two
// runs never mail each other's report. Never throws: a report that cannot be
// written completely is deleted and not mailed, and every failure is told on
// standard error. mailLimit: how long the mail program may take.
void MailErrorProtocol(std::string_view protocolPath, std::string_view address, std::string_view profileName,
                       std::chrono::milliseconds mailLimit = platform::kMailTimeLimit);

}  // namespace kv
