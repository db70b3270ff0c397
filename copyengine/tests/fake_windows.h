#pragma once
// The window layer is not there in the engine's tests: these stand in for
// it, as a user at the window would, and let a test look at the disk while
// a copy runs.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "copyengine/copywindow.h"
#include "copyengine/oldstamp.h"

namespace kv::test {

// Copy windows for the scope: every one publishes here and asks the cancel
// question here.
class ScopedFakeCopyWindow {
 public:
  using OnPublish = std::function<void(const CopyWindowSnapshot&, const platform::HandlerRef& model)>;
  explicit ScopedFakeCopyWindow(OnPublish onPublish = {}, bool answerWhenNoneLeft = false)
      : onPublish(std::move(onPublish)), answerWhenNoneLeft(answerWhenNoneLeft) {
    old_ = SetCopyWindowViewFactory([this](const CopyWindowLink& link) {
      links.push_back(link);
      return std::make_unique<View>(*this, link.model);
    });
  }
  ~ScopedFakeCopyWindow() { SetCopyWindowViewFactory(std::move(old_)); }
  // What the widget sends to the latest window's model.
  void Post(uint32_t message) { links.back().model.Post(message); }

  OnPublish onPublish;
  std::deque<bool> answers;  // the user's answers to the cancel question, in order
  bool answerWhenNoneLeft;
  int questions = 0;
  std::vector<CopyWindowLink> links;
  CopyWindowSnapshot last;
  size_t published = 0;

 private:
  class View : public ICopyWindowView {
   public:
    View(ScopedFakeCopyWindow& owner, platform::HandlerRef model) : owner_(owner), model_(std::move(model)) {}
    void Publish(const CopyWindowSnapshot& s) override {
      ++owner_.published;
      owner_.last = s;
      if (owner_.onPublish) owner_.onPublish(s, model_);
    }
    bool AskAbort(std::string_view question) override {
      EXPECT_EQ(question, "Möchten Sie den Vorgang abbrechen?");
      ++owner_.questions;
      if (owner_.answers.empty()) return owner_.answerWhenNoneLeft;
      const bool yes = owner_.answers.front();
      owner_.answers.pop_front();
      return yes;
    }

   private:
    ScopedFakeCopyWindow& owner_;
    platform::HandlerRef model_;
  };
  CopyWindowViewFactory old_;
};

// Writes a merge view's calls as "Begin shown|hidden[ inactive]",
// "Show <source> -> <destination>" and "End".
class MergeViewRecorder : public IOldStampMergeView {
 public:
  explicit MergeViewRecorder(std::vector<std::string>& calls) : calls_(calls) {}
  void Begin(bool hidden, bool minimized) override {
    calls_.push_back(std::string("Begin ") + (hidden ? "hidden" : "shown") + (minimized ? " inactive" : ""));
  }
  void ShowFolders(std::string_view source, std::string_view dest) override {
    calls_.push_back("Show " + std::string(source) + " -> " + std::string(dest));
  }
  void End() override { calls_.push_back("End"); }

 private:
  std::vector<std::string>& calls_;
};

// Merge windows for the scope.
class ScopedFakeMergeWindow {
 public:
  ScopedFakeMergeWindow() {
    old_ = SetOldStampMergeViewFactory([this]() -> std::unique_ptr<IOldStampMergeView> {
      ++views;
      return std::make_unique<MergeViewRecorder>(calls);
    });
  }
  ~ScopedFakeMergeWindow() { SetOldStampMergeViewFactory(std::move(old_)); }
  int views = 0;
  std::vector<std::string> calls;

 private:
  OldStampMergeViewFactory old_;
};

}  // namespace kv::test
