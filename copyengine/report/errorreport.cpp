#include "copyengine/report/errorreport.h"

#include <cstdio>
#include <functional>
#include <optional>

#include "copyengine/report/ptksummary.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/privatefile.h"
#include "platform/text.h"

namespace kv {
namespace {

using platform::Utf8Length;

constexpr size_t kBoxWidth = 74;
constexpr size_t kBoxedTextWidth = 73;
constexpr size_t kBlockRuleWidth = 98;
// Where a message part breaks: the head's rows, the blocks' message lines.
constexpr size_t kHeadWrapWidth = 72;
constexpr size_t kBlockWrapWidth = 73;
constexpr size_t kWriteChunk = 64 * 1024;

constexpr std::string_view kHeadContinuation = "*          | ";
constexpr std::string_view kFolderContinuation = "       || ";
constexpr std::string_view kFileContinuation = "           || ";
constexpr std::string_view kErrorsTitle = "Folgende Fehler sind während des Ableichs aufgetreten:";
constexpr std::string_view kDoneTitle = "Folgende Aktionen wurden erfolgreich durchgeführt:";
constexpr std::string_view kLabelOk = "OK";
constexpr std::string_view kLabelError = "ERROR";

std::string PadRight(std::string_view text, size_t width) {
  std::string out(text);
  const size_t length = Utf8Length(text);
  if (length < width) out.append(width - length, ' ');
  return out;
}

// One line of a wrapped part and what follows it.
struct Break {
  std::string line;
  std::string rest;
};

// Breaks text at the last blank at or before character `width` that lies
// after the first prefixChars characters (the line's own prefix never
// counts), or, without such a blank, after `width` characters. keepBlank:
// the blank ends the line; otherwise the line ends before it.
Break BreakLine(const std::string& text, size_t prefixChars, size_t width, bool keepBlank) {
  const size_t prefixEnd = platform::Utf8CharsPrefixLength(text, prefixChars);
  const size_t widthEnd = platform::Utf8CharsPrefixLength(text, width);
  const size_t blank = widthEnd > prefixEnd ? text.rfind(' ', widthEnd - 1) : std::string::npos;
  if (blank == std::string::npos || blank < prefixEnd) return {text.substr(0, widthEnd), text.substr(widthEnd)};
  return {text.substr(0, keepBlank ? blank + 1 : blank), text.substr(blank + 1)};
}

// The wrapping both the head and the blocks use: while the text is `width`
// characters or longer, one line is broken off and the text continues as
// the continuation prefix + the trimmed rest.
void Wrap(std::string text, size_t prefixChars, size_t width, bool headStyle, std::string_view continuation,
          const std::function<void(std::string_view)>& emit) {
  while (Utf8Length(text) >= width) {
    Break piece = BreakLine(text, prefixChars, width, !headStyle);
    emit(headStyle ? platform::Trim(piece.line) : piece.line);
    const std::string rest = platform::Trim(piece.rest);
    if (rest.empty()) return;
    text = std::string(continuation) + rest;
    prefixChars = Utf8Length(continuation);
  }
  emit(text);
}

void WriteRule(TReportText& out, size_t indent, size_t width) {
  out.Line(std::string(indent, ' ') + std::string(width, '-'));
}

void WriteSummaryRow(TReportText& out, const TPtkSummaryItem& item) {
  const std::string prefix = PadRight("* " + platform::IntToStr(item.count), 11) + "| ";
  Wrap(prefix + item.message, Utf8Length(prefix), kHeadWrapWidth, true, kHeadContinuation,
       [&](std::string_view line) { WriteReportLine(out, line); });
}

// Folder blocks drop each CR together with the character after it.
std::string WithoutCarriageReturns(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
      continue;
    }
    if (i + 1 < text.size()) i += platform::Utf8CharsPrefixLength(text.substr(i + 1), 1);
  }
  return out;
}

std::string CrLfAsBlank(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += ' ';
      ++i;
      continue;
    }
    out += text[i];
  }
  return out;
}

bool IsFolderRecord(const TPtkItem& record) { return record.item.rowKind == 1 || record.item.rowKind == 2; }

// Pass 1: the failed messages, and the trailer's totals.
struct ReportHead {
  TPtkSummary summary;
  std::optional<TPtkTrailer> trailer;
};

ReportHead ReadHead(ProtocolStream& protocol) {
  ReportHead head;
  protocol.ForEachRecord([&](std::span<const uint8_t> bytes) {
    if (RecordStatus(bytes) == kPtkTrailer) {
      head.trailer = TPtkTrailer::Decode(bytes);
      return false;
    }
    if (RecordStatus(bytes) > kPtkDone) head.summary.Add(TPtkItem::Decode(bytes).message);
    return true;
  });
  return head;
}

void WriteHead(TReportText& out, const ReportHead& head, std::string_view profileName) {
  const std::string stars(kBoxWidth, '*');
  out.Line(stars);
  WriteReportLine(out, "* Fehlerprotokoll für das Profil " + std::string(profileName));
  const TPtkTrailer trailer = head.trailer.value_or(TPtkTrailer{});
  WriteReportLine(out, "* Dauer: " + trailer.elapsedText + " Kopiermenge: " + trailer.sizeText);
  WriteReportLine(out, "* Anzahl   | Fehlemeldung");
  for (int i = 0; i < head.summary.Count(); ++i) WriteSummaryRow(out, head.summary.GetItem(i));
  out.Line(stars);
  out.Line("");
}

// Passes 2 and 3: the blocks of the records with the wanted statuses, each
// file block after the block of its folder. Records before the first folder
// record have no folder to show.
void WriteBlocks(ProtocolStream& protocol, TReportText& out, bool errors) {
  const auto wanted = [errors](uint8_t status) { return errors ? status > kPtkDone : status == kPtkDone; };
  const std::string_view label = errors ? kLabelError : kLabelOk;
  std::optional<TPtkItem> folder;
  bool folderPending = false;
  protocol.ForEachRecord([&](std::span<const uint8_t> bytes) {
    if (RecordStatus(bytes) == kPtkTrailer) return false;
    TPtkItem record = TPtkItem::Decode(bytes);
    if (IsFolderRecord(record)) {
      folder = std::move(record);
      folderPending = !wanted(folder->status);
      if (!folderPending) WritePtkBlock(out, *folder, label, TBlockStyle::Folder);
      return true;
    }
    if (!wanted(record.status)) return true;
    if (folderPending) WritePtkBlock(out, *folder, kLabelOk, TBlockStyle::Folder);
    folderPending = false;
    WritePtkBlock(out, record, label, TBlockStyle::File);
    return true;
  });
}

void Complain(std::string_view protocolPath, const std::string& why) {
  std::fprintf(stderr, "Kestrovane: Fehlerprotokoll zu \"%.*s\" nicht gesendet: %s\n",
               static_cast<int>(protocolPath.size()), protocolPath.data(), why.c_str());
}

// The report file, removed again whatever happens.
class ReportFile {
 public:
  ReportFile() : path_(platform::CreatePrivateTempFile("Kestrovane_Protokoll")) {}
  ~ReportFile() {
    if (!path_.empty()) platform::DeleteFile(path_);
  }
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// False when the protocol holds no failed record.
bool WriteReportFile(const std::string& reportPath, ProtocolStream& protocol, std::string_view profileName) {
  platform::FileStream file;
  if (!file.Open(reportPath, platform::OpenMode::ReadWrite)) {
    throw ProtocolError("Der Bericht " + platform::Quoted(reportPath) + " kann nicht geöffnet werden: " +
                        platform::SysErrorMessage(platform::GetLastError()));
  }
  TReportText out(&file);
  if (!WriteErrorReport(protocol, profileName, out)) return false;
  out.Flush();
  if (!file.Close()) {
    throw ProtocolError("Der Bericht " + platform::Quoted(reportPath) + " kann nicht geschrieben werden: " +
                        platform::SysErrorMessage(platform::GetLastError()));
  }
  return true;
}

}  // namespace

void TReportText::Line(std::string_view line) {
  buffer_.append(line).append("\r\n");
  if (file_ && buffer_.size() >= kWriteChunk) Flush();
}

void TReportText::Flush() {
  if (!file_ || buffer_.empty()) return;
  if (!file_->Write(buffer_.data(), buffer_.size())) {
    throw ProtocolError("Der Bericht kann nicht geschrieben werden: " +
                        platform::SysErrorMessage(platform::GetLastError()));
  }
  buffer_.clear();
}

void WriteReportLine(TReportText& out, std::string_view text) { out.Line(PadRight(text, kBoxedTextWidth) + "*"); }

void WritePtkBlock(TReportText& out, const TPtkItem& record, std::string_view label, TBlockStyle style) {
  const auto emit = [&](std::string_view line) { out.Line(line); };
  if (style == TBlockStyle::Folder) {
    WriteRule(out, 0, kBlockRuleWidth);
    out.Line("Quelle || " + record.item.source);
    out.Line("Ziel   || " + record.item.destination);
    const std::string prefix = PadRight(label, 7) + "|| ";
    Wrap(prefix + WithoutCarriageReturns(record.message), Utf8Length(prefix), kBlockWrapWidth, false,
         kFolderContinuation, emit);
    WriteRule(out, 0, kBlockRuleWidth);
    return;
  }
  out.Line("         Q || " + record.item.source);
  out.Line("         Z || " + record.item.destination);
  const std::string prefix = "     " + PadRight(label, 6) + "|| ";
  Wrap(prefix + CrLfAsBlank(record.message), Utf8Length(prefix), kBlockWrapWidth, false, kFileContinuation, emit);
  WriteRule(out, 5, kBlockRuleWidth - 5);
}

bool WriteErrorReport(ProtocolStream& protocol, std::string_view profileName, TReportText& out) {
  const ReportHead head = ReadHead(protocol);
  if (head.summary.Count() == 0) return false;
  WriteHead(out, head, profileName);
  out.Line(kErrorsTitle);
  WriteBlocks(protocol, out, true);
  out.Line(std::string(kBoxWidth, '*'));
  out.Line("");
  out.Line(kDoneTitle);
  WriteBlocks(protocol, out, false);
  return true;
}

void MailErrorProtocol(std::string_view protocolPath, std::string_view address, std::string_view profileName,
                       std::chrono::milliseconds mailLimit) {
  if (address.empty()) return;
  try {
    ProtocolStream protocol = ProtocolStream::OpenForReading(std::string(protocolPath));
    const ReportFile report;
    if (report.path().empty()) {
      Complain(protocolPath, "keine Berichtsdatei: " + platform::SysErrorMessage(platform::GetLastError()));
      return;
    }
    if (!WriteReportFile(report.path(), protocol, profileName)) return;
    platform::MapiMessage message;
    message.subject = kReportSubject;
    message.noteText = kReportMailBody;
    message.recips.push_back({platform::MAPI_TO, std::string(address)});
    // The file's own name is unique; the recipient sees the report's name.
    message.files.push_back({report.path(), std::string(kReportFileName)});
    platform::MAPISendMail(message, platform::MAPI_LOGON_UI | platform::MAPI_NEW_SESSION, mailLimit);
  } catch (const std::exception& e) {
    Complain(protocolPath, e.what());
  }
}

}  // namespace kv
