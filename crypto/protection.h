#pragma once
// TProtection, through which every digest, checksum and cipher object runs
// buffers, streams, files and texts, and passes them on to the protection
// object chained behind it.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kv::crypto {

// The failures of the class library carry only a message.
class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class EProtection : public Exception {
 public:
  using Exception::Exception;
};
class EStringFormat : public Exception {
 public:
  using Exception::Exception;
};

// The numbers are part of the interface.
enum TCodingAction : uint8_t { caEncode = 0, caDecode = 1, caScramble = 2, caCalculate = 3, caWipe = 4 };
// A set of coding actions: bit n stands for action n.
using TCodingActions = uint8_t;
constexpr TCodingActions ActionSet(TCodingAction action) { return static_cast<TCodingActions>(1u << action); }
inline constexpr TCodingActions kAllCodingActions = 0x1F;

class TStream;
class TProtection;
using TProtectionRef = std::shared_ptr<TProtection>;

class TProtection {
 public:
  explicit TProtection(TProtectionRef chain = nullptr);
  virtual ~TProtection() = default;
  TProtection(const TProtection&) = delete;
  TProtection& operator=(const TProtection&) = delete;

  // The object this one passes its data on to; a counted reference, so it
  // lives as long as something chains to it.
  const TProtectionRef& ChainedProtection() const { return chain_; }
  // Refuses (EProtection, chain unchanged) a protection whose chain leads
  // back to this object.
  void SetChainedProtection(TProtectionRef protection);

  // The actions for which the object itself works on the data (all five
  // after construction); a chained object is served either way.
  TCodingActions EnabledActions() const { return enabled_; }
  void SetEnabledActions(TCodingActions actions) { enabled_ = actions & kAllCodingActions; }
  bool IsEnabled(TCodingAction action) const { return (enabled_ & ActionSet(action)) != 0; }

  // The coding steps; here they only forward to the chained protection.
  virtual void BeginAction(TCodingAction action);
  virtual void EndAction(TCodingAction action);
  virtual void ProcessChunk(void* buffer, int32_t size, TCodingAction action);

  // Codes size bytes (negative: the whole source, from its start) from the
  // source's position in chunks of kChunkSize to the destination's position;
  // no destination codes in place. caCalculate writes nothing. A read or
  // write failure raises after the run's end steps (EndAction included).
  virtual void ProcessStream(TStream* source, TStream* destination, int64_t size, TCodingAction action);
  // The same over files named by Windows paths. caCalculate only reads the
  // source. The source is coded in place when the destination is empty or
  // is the same file (any spelling, a hard link); otherwise the result is
  // written beside the destination and put under its name only when the run
  // succeeded, so a failure leaves the destination as it was.
  virtual void ProcessFile(std::string_view source, std::string_view destination, TCodingAction action);
  // caDecode reads the text in the given string format and returns the coded
  // bytes; every other action codes the text's bytes and returns them in
  // that format. An empty text gives an empty result.
  virtual std::string ProcessText(std::string_view text, TCodingAction action, int32_t format);
  // BeginAction, one ProcessChunk over the whole buffer, EndAction (also
  // when the chunk fails); returns size.
  virtual int32_t ProcessBuffer(void* buffer, int32_t size, TCodingAction action);

  // The chunk size of stream and file runs: results of the keystream
  // actions depend on it.
  static constexpr int32_t kChunkSize = 4096;

 protected:
  // Calls the progress procedure when one is set and its owner lives.
  void ReportProgress(int64_t current, int64_t maximum);

 private:
  void RunChunks(TStream& source, TStream& destination, int64_t size, TCodingAction action);

  TProtectionRef chain_;
  TCodingActions enabled_ = kAllCodingActions;
};

// The process-wide progress procedure of coding runs, called with (owner,
// the protection object, bytes done, bytes in all); (0, 0) ends a run. The
// owner is held weakly: once it is destroyed the procedure is no longer
// called. Without an owner it is called with nullptr. nullptr as proc
// removes the procedure.
using TProgressProc = void (*)(void* owner, TProtection& sender, int64_t current, int64_t maximum);
void SetProgress(TProgressProc proc);
void SetProgress(TProgressProc proc, std::weak_ptr<void> owner);

}  // namespace kv::crypto
