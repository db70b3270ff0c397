#include "copyengine/externallog.h"

#include <cerrno>
#include <cstdint>
#include <exception>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "copyengine/protocol.h"
#include "platform/errors.h"
#include "platform/filereplacement.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "shared/ptkitem.h"
#include "shared/synccodes.h"

namespace kv {
namespace {

using platform::GetLastError;
using platform::SysErrorMessage;

constexpr std::string_view kLineEnd = "\r\n";
// The new log is written in pieces of about this size.
constexpr size_t kWriteChunk = size_t{64} << 10;

// --- Trace texts ---
constexpr std::string_view kTraceCalled = "Prozezur aufgerufen";
constexpr std::string_view kTraceProtocolOpened = "Protokolldatei geöffnet: ";
constexpr std::string_view kTraceProtocolNotOpened = "Protokolldatei konnte NICHT geöffnet werden: ";
constexpr std::string_view kTraceOldRead = "Alte Einträge wurden gelesen.";
constexpr std::string_view kTraceOldNotRead = "Alte Einträge wurden NICHT gelesen.";
constexpr std::string_view kTraceHeader = "Header geschrieben";
constexpr std::string_view kTraceDoneLine = "Ok geschrieben";
constexpr std::string_view kTraceErrorLine = "Fehler geschrieben";
constexpr std::string_view kTraceConverted =
    "Das Protokoll wurde in das externe Protokoll gewandelt. Dieses wir jetzt gespeichert...";
constexpr std::string_view kTraceSaved = "Das Ext. Ptk wurde erfolgreich gespeichert und somit geschrieben";
constexpr std::string_view kTraceNotSaved =
    "Die StringListe des Ext. Ptk´s konnte nicht gespeichert werden. Fehler: ";
// The protocol could be opened but not read to its end.
constexpr std::string_view kTraceAborted = "Das externe Protokoll wurde NICHT geschrieben. Fehler: ";

std::string JaNein(bool yes) { return yes ? "JA" : "NEIN"; }

// The trace file: created anew, then one key per line, each written at
// once. After a failed write nothing more is tried.
class TExtLogTrace {
 public:
  // An empty path: no trace.
  explicit TExtLogTrace(std::string_view path) {
    if (path.empty()) return;
    platform::DeleteFile(path);
    if (!file_.Open(path, platform::OpenMode::CreateNew)) return;
    const std::string header = "[" + std::string(kExtLogTraceSection) + "]" + std::string(kLineEnd);
    if (!file_.Write(header.data(), header.size())) (void)file_.Close();
  }

  // A line break in the text is written as a blank: an INI file has no
  // place for it.
  void Line(std::string_view text) {
    if (!file_.IsOpen()) return;
    std::string line = platform::IntToStr(next_++) + "=";
    for (char c : text) line += c == '\r' || c == '\n' ? ' ' : c;
    line += kLineEnd;
    if (!file_.Write(line.data(), line.size())) (void)file_.Close();
  }

 private:
  platform::FileStream file_;
  int next_ = 1;
};

// "[DD.MM.YYYY HH:NN]" of the local time now.
std::string ExternalLogHeader(platform::DateTime now) {
  const platform::CivilTime c = platform::CivilFromDateTime(now);
  return "[" + platform::FormatDateLong(c) + " " + platform::FormatTime(c).substr(0, 5) + "]";
}

// The line of one record; none for a record that gives no line. folder:
// the latest folder record before it, if any.
std::optional<std::string> ExternalLogLine(const TPtkItem& record, const TPtkItem* folder,
                                           const ExternalLogSettings& settings) {
  const TSyncItem& item = record.item;
  const std::string& s = settings.separator;
  const std::string status = platform::IntToStr(record.status);
  const std::string direction = platform::IntToStr(item.direction);
  const bool error = record.status == kPtkError && settings.errors;
  if (IsFolderStateCode(item.stateCode)) {
    if (!error) return std::nullopt;
    return status + s + item.source + s + item.destination + s + direction + s;
  }
  std::string name1, name2;
  if (record.status == kPtkDone && settings.done) {
    name1 = item.source;
    name2 = item.destination;
  } else if (error) {
    // Both columns name the file the copy came from.
    name1 = name2 = item.direction == 1 ? item.source : item.destination;
  } else {
    return std::nullopt;
  }
  const std::string folder1 = folder ? folder->item.source : std::string();
  const std::string folder2 = folder ? folder->item.destination : std::string();
  return status + s + folder1 + name1 + s + folder2 + name2 + s + direction + s;
}


void TraceParameters(TExtLogTrace& trace, std::string_view protocolPath, const ExternalLogSettings& s) {
  trace.Line(kTraceCalled);
  trace.Line("PARAMETER Protokolldatei: " + std::string(protocolPath));
  trace.Line("PARAMETER Externe Logdatei: " + s.path);
  trace.Line("PARAMETER FeldTrenner: \"" + s.separator + "\"");
  trace.Line("PARAMETER LogFile schreiben: " + JaNein(s.set));
  trace.Line("PARAMETER LogFile überschreiben: " + JaNein(!s.append));
  trace.Line("PARAMETER Fehler schreiben: " + JaNein(s.errors));
  trace.Line("PARAMETER Ok schreiben: " + JaNein(s.done));
}

// The log's new content, written to a temporary file beside it and put in
// its place by Commit only when all of it was written. The first failure is
// kept; what comes after it is not written.
class TNewLog {
 public:
  // Makes the log's folder with its parents and starts the new file with
  // the old log's content (old: open for reading, or closed when there is
  // none to keep).
  void Begin(std::string_view path, platform::FileStream& old) {
    const std::string folder = platform::ExtractFilePath(path);
    if (!folder.empty() && !platform::ForceDirectories(folder)) return Fail();
    if (!file_.Begin(path)) return Fail();
    if (old.IsOpen()) CopyOldLines(old);
  }

  void Line(std::string_view line) {
    buffer_.append(line).append(kLineEnd);
    if (buffer_.size() >= kWriteChunk) Flush();
  }

  // False with the reason in error().
  bool Commit() {
    Flush();
    if (error_.empty() && !file_.Commit()) Fail();
    return error_.empty();
  }
  const std::string& error() const { return error_; }

 private:
  // A last old line without its line end gets one, so the new lines start
  // on a line of their own.
  void CopyOldLines(platform::FileStream& old) {
    std::vector<char> block(kWriteChunk);
    char last = '\n';
    for (;;) {
      size_t got = 0;
      if (!old.Read(block.data(), block.size(), got)) return Fail();
      if (got == 0) break;
      Write(std::span(block.data(), got));
      last = block[got - 1];
    }
    if (last != '\n' && last != '\r') buffer_.append(kLineEnd);
  }

  void Flush() {
    Write(buffer_);
    buffer_.clear();
  }

  void Write(std::span<const char> bytes) {
    if (error_.empty() && !bytes.empty() && !file_.Stream().Write(bytes.data(), bytes.size())) Fail();
  }

  void Fail() {
    if (error_.empty()) error_ = SysErrorMessage(GetLastError());
    file_.Discard();
  }

  platform::FileReplacement file_;
  std::string buffer_;
  std::string error_;
};

// The old log, opened for reading; closed when there is none. False when
// it is there but cannot be read.
bool OpenOldLog(std::string_view path, platform::FileStream& old) {
  if (old.Open(path, platform::OpenMode::Read)) return true;
  return GetLastError() == ENOENT || GetLastError() == ENOTDIR;
}

// Steps 4 and 5: the header and one line per record that gives one.
void WriteLines(ProtocolStream& protocol, const ExternalLogSettings& settings, platform::DateTime now,
                TNewLog& log, TExtLogTrace& trace) {
  log.Line(ExternalLogHeader(now));
  trace.Line(kTraceHeader);
  std::optional<TPtkItem> folder;
  protocol.ForEachRecord([&](std::span<const uint8_t> bytes) {
    if (RecordStatus(bytes) == kPtkTrailer) return false;
    TPtkItem record = TPtkItem::Decode(bytes);
    if (const std::optional<std::string> line = ExternalLogLine(record, folder ? &*folder : nullptr, settings)) {
      log.Line(*line);
      trace.Line(record.status == kPtkDone ? kTraceDoneLine : kTraceErrorLine);
    }
    if (IsFolderStateCode(record.item.stateCode)) folder = std::move(record);
    return true;
  });
}

}  // namespace

// --- The log ---

void WriteExtLog(std::string_view protocolPath, const ExternalLogSettings& settings, std::string_view tracePath,
                 platform::DateTime now) {
  TExtLogTrace trace(tracePath);
  try {
    TraceParameters(trace, protocolPath, settings);
    std::optional<ProtocolStream> protocol;
    try {
      protocol.emplace(ProtocolStream::OpenForReading(std::string(protocolPath)));
    } catch (const ProtocolError&) {
      trace.Line(std::string(kTraceProtocolNotOpened) + std::string(protocolPath));
      return;
    }
    trace.Line(std::string(kTraceProtocolOpened) + std::string(protocolPath));
    platform::FileStream old;
    if (settings.append) {
      if (!OpenOldLog(settings.path, old)) return trace.Line(kTraceOldNotRead);
      trace.Line(kTraceOldRead);
    }
    TNewLog log;
    log.Begin(settings.path, old);
    WriteLines(*protocol, settings, now, log, trace);
    protocol->Close();
    trace.Line(kTraceConverted);
    if (log.Commit()) return trace.Line(kTraceSaved);
    trace.Line(std::string(kTraceNotSaved) + log.error());
  } catch (const std::exception& e) {
    trace.Line(std::string(kTraceAborted) + e.what());
  }
}

}  // namespace kv
