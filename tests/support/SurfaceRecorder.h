// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Headless PDF view surfaces the test can reach: while the recorder lives it is the surface
// factory, and it knows every surface still alive with the engine it was last attached to.
// Header-only, as only the test folders that link the PDF library use it.

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/pdf/PdfEngine.h"
#include "platform/pdf/PdfSurface.h"
#include "platform/pdf/PdfSurfaceHeadless.h"

namespace testing_support {

class SurfaceRecorder {
 public:
  using Visitor =
      std::function<void(rt::PdfSurfaceHeadless&, const std::shared_ptr<rt::PdfEngine>&)>;

  SurfaceRecorder() {
    rt::SetPdfSurfaceFactory([this] { return std::make_unique<Recorded>(*this); });
  }
  ~SurfaceRecorder() { rt::SetPdfSurfaceFactory({}); }
  SurfaceRecorder(const SurfaceRecorder&) = delete;
  SurfaceRecorder& operator=(const SurfaceRecorder&) = delete;

  // Calls `visit` for each live surface, oldest first, with its engine (null when it shows
  // none). The surfaces cannot go away meanwhile: the recorder's lock is held.
  void Visit(const Visitor& visit) {
    std::lock_guard lock(mutex_);
    for (const Entry& e : live_)
      visit(*e.surface, e.engine.lock());
  }

  // The newest live surface attached in this window (0: any) to this control (0: any), and
  // its engine; nulls when there is none. The pointer stays good while the window is open.
  rt::PdfSurfaceHeadless* Surface(int window = 0, int control = 0) {
    std::lock_guard lock(mutex_);
    const Entry* e = Newest(window, control);
    return e ? e->surface : nullptr;
  }
  std::shared_ptr<rt::PdfEngine> Engine(int window = 0, int control = 0) {
    std::lock_guard lock(mutex_);
    const Entry* e = Newest(window, control);
    return e ? e->engine.lock() : nullptr;
  }

 private:
  struct Entry {
    rt::PdfSurfaceHeadless* surface = nullptr;
    std::weak_ptr<rt::PdfEngine> engine;
  };

  class Recorded : public rt::PdfSurfaceHeadless {
   public:
    explicit Recorded(SurfaceRecorder& recorder) : recorder_(recorder) {
      std::lock_guard lock(recorder_.mutex_);
      recorder_.live_.push_back(Entry{this, {}});
    }
    ~Recorded() override {
      std::lock_guard lock(recorder_.mutex_);
      std::erase_if(recorder_.live_, [this](const Entry& e) { return e.surface == this; });
    }
    void Attach(int windowId, int control, const rt::Rect& rect,
                std::weak_ptr<rt::PdfEngine> engine) override {
      {
        std::lock_guard lock(recorder_.mutex_);
        for (Entry& e : recorder_.live_)
          if (e.surface == this) e.engine = engine;
      }
      PdfSurfaceHeadless::Attach(windowId, control, rect, std::move(engine));
    }

   private:
    SurfaceRecorder& recorder_;
  };

  const Entry* Newest(int window, int control) const {
    for (auto it = live_.rbegin(); it != live_.rend(); ++it)
      if ((window == 0 || it->surface->WindowId() == window) &&
          (control == 0 || it->surface->Control() == control))
        return &*it;
    return nullptr;
  }

  std::mutex mutex_;
  std::vector<Entry> live_;
};

}  // namespace testing_support
