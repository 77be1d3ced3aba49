#include "platform/win32/window/win32_display.h"

#include <d3d11.h>
#include <dwmapi.h>
#include <dxgi1_3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/tick_thread.h"
#include "platform/tick_clock.h"
#include "timing/timing_check.h"

namespace pyokoran {

namespace {

template <class T>
void Release(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

std::string HresultText(HRESULT hr) {
  if (hr == E_NOTIMPL) return "E_NOTIMPL";
  if (hr == DXGI_ERROR_FRAME_STATISTICS_DISJOINT) return "DXGI_ERROR_FRAME_STATISTICS_DISJOINT";
  if (hr == DXGI_ERROR_UNSUPPORTED) return "DXGI_ERROR_UNSUPPORTED";
  char text[32];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

// A time on the performance counter as monotonic ns, through the counter's value now.
int64_t CounterToMonotonicNs(int64_t count) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  const int64_t now_ns = TickThread::MonotonicNs();
  QueryPerformanceFrequency(&frequency);
  const int64_t behind = now.QuadPart - count;
  return now_ns - int64_t(double(behind) * 1e9 / double(frequency.QuadPart));
}

}  // namespace

// The Direct3D side: device, swap chain on the window, and the window's picture as a texture.
struct D3DPresenter {
  HMODULE library = nullptr;
  ID3D11Device* device = nullptr;
  ID3D11DeviceContext* context = nullptr;
  IDXGISwapChain1* chain = nullptr;
  ID3D11Texture2D* picture = nullptr;
  HANDLE latency = nullptr;  // signalled when the queued frame has been shown
  UINT width = 0, height = 0;
  UINT presents = 0;  // GetLastPresentCount after the last present

  ~D3DPresenter() {
    if (context) context->ClearState();
    Release(picture);
    if (latency) CloseHandle(latency);
    Release(chain);
    Release(context);
    Release(device);
    if (library) FreeLibrary(library);
  }

  // Device and flip-model swap chain of the window's size; false with why when there is none.
  bool Create(HWND window, std::string& why) {
    RECT client{};
    GetClientRect(window, &client);
    width = UINT(std::max<LONG>(client.right - client.left, 1));
    height = UINT(std::max<LONG>(client.bottom - client.top, 1));
    library = LoadLibraryW(L"d3d11.dll");
    auto create = library ? reinterpret_cast<PFN_D3D11_CREATE_DEVICE>(
                                reinterpret_cast<void*>(GetProcAddress(library, "D3D11CreateDevice")))
                          : nullptr;
    if (!create) {
      why = "no Direct3D 11";
      return false;
    }
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                        D3D_FEATURE_LEVEL_10_0};
    HRESULT hr = create(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                        levels, UINT(std::size(levels)), D3D11_SDK_VERSION, &device, nullptr, &context);
    if (FAILED(hr)) {
      why = "no Direct3D 11 device (" + HresultText(hr) + ")";
      return false;
    }
    IDXGIDevice* dxgi_device = nullptr;
    IDXGIAdapter* adapter = nullptr;
    IDXGIFactory2* factory = nullptr;
    hr = device->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void**>(&dxgi_device));
    if (SUCCEEDED(hr)) hr = dxgi_device->GetAdapter(&adapter);
    if (SUCCEEDED(hr)) hr = adapter->GetParent(__uuidof(IDXGIFactory2), reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(hr)) {
      DXGI_SWAP_CHAIN_DESC1 desc{};
      desc.Width = width;
      desc.Height = height;
      desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
      desc.SampleDesc.Count = 1;
      desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
      desc.BufferCount = 2;
      desc.Scaling = DXGI_SCALING_NONE;
      desc.AlphaMode = DXGI_ALPHA_MODE_IGNORE;
      desc.Flags = DXGI_SWAP_CHAIN_FLAG_FRAME_LATENCY_WAITABLE_OBJECT;
      // Flip-discard (Windows 10) first, then flip-sequential (8.1), then without the wait.
      const DXGI_SWAP_EFFECT effects[] = {DXGI_SWAP_EFFECT_FLIP_DISCARD, DXGI_SWAP_EFFECT_FLIP_SEQUENTIAL};
      for (int attempt = 0; attempt < 4 && !chain; ++attempt) {
        desc.SwapEffect = effects[attempt % 2];
        desc.Flags = attempt < 2 ? DXGI_SWAP_CHAIN_FLAG_FRAME_LATENCY_WAITABLE_OBJECT : 0;
        hr = factory->CreateSwapChainForHwnd(device, window, &desc, nullptr, nullptr, &chain);
      }
      if (chain) {
        factory->MakeWindowAssociation(window, DXGI_MWA_NO_ALT_ENTER | DXGI_MWA_NO_WINDOW_CHANGES);
        IDXGISwapChain2* chain2 = nullptr;
        if (desc.Flags != 0 &&
            SUCCEEDED(chain->QueryInterface(__uuidof(IDXGISwapChain2), reinterpret_cast<void**>(&chain2)))) {
          chain2->SetMaximumFrameLatency(1);
          latency = chain2->GetFrameLatencyWaitableObject();
          Release(chain2);
        }
        if (!latency) {
          IDXGIDevice1* device1 = nullptr;
          if (SUCCEEDED(device->QueryInterface(__uuidof(IDXGIDevice1), reinterpret_cast<void**>(&device1)))) {
            device1->SetMaximumFrameLatency(1);
            Release(device1);
          }
        }
      }
    }
    Release(factory);
    Release(adapter);
    Release(dxgi_device);
    if (!chain) {
      why = "no flip-model swap chain (" + HresultText(hr) + ")";
      return false;
    }
    D3D11_TEXTURE2D_DESC texture{};
    texture.Width = width;
    texture.Height = height;
    texture.MipLevels = 1;
    texture.ArraySize = 1;
    texture.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    texture.SampleDesc.Count = 1;
    texture.Usage = D3D11_USAGE_DEFAULT;
    hr = device->CreateTexture2D(&texture, nullptr, &picture);
    if (FAILED(hr)) {
      why = "no texture for the picture (" + HresultText(hr) + ")";
      return false;
    }
    return true;
  }

  // The parts of the picture that changed into the texture.
  void Update(const StagePicture& source, const std::vector<Rect>& rects) {
    for (const Rect& r : rects) {
      const Rect c{std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, int32_t(width)),
                   std::min(r.bottom, int32_t(height))};
      if (c.left >= c.right || c.top >= c.bottom || c.right > source.width() || c.bottom > source.height()) {
        continue;
      }
      const D3D11_BOX box{UINT(c.left), UINT(c.top), 0, UINT(c.right), UINT(c.bottom), 1};
      context->UpdateSubresource(picture, 0, &box, source.row(c.top) + c.left,
                                 UINT(source.width()) * 4, 0);
    }
  }

  // The picture into the back buffer and presented with sync interval 1; waits until the
  // frame has been taken for the screen (at most 100 ms). The result of Present.
  HRESULT PresentAndWait() {
    ID3D11Texture2D* back = nullptr;
    HRESULT hr = chain->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(&back));
    if (FAILED(hr)) return hr;
    context->CopyResource(back, picture);
    Release(back);
    hr = chain->Present(1, 0);
    if (latency) WaitForSingleObjectEx(latency, 100, FALSE);
    chain->GetLastPresentCount(&presents);
    return hr;
  }
};

Win32Display::Win32Display() = default;

Win32Display::~Win32Display() { Shutdown(); }

bool Win32Display::Init() {
  if (GetSystemMetrics(SM_CXSCREEN) <= 0 || GetSystemMetrics(SM_CYSCREEN) <= 0) return false;
  anchor_ns_ = TickThread::MonotonicNs();
  return true;
}

bool Win32Display::locked() const { return d3d_ && decision_.mode != PresentMode::Fallback; }

double Win32Display::ReportedRefreshHz() const {
  // The compositor's rate keeps its fraction (59.94 Hz); the display mode's is whole hertz.
  HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
  double hz = 0;
  if (dwm) {
    using TimingInfo = HRESULT(WINAPI*)(HWND, DWM_TIMING_INFO*);
    auto timing = reinterpret_cast<TimingInfo>(
        reinterpret_cast<void*>(GetProcAddress(dwm, "DwmGetCompositionTimingInfo")));
    DWM_TIMING_INFO info{};
    info.cbSize = sizeof info;
    if (timing && SUCCEEDED(timing(nullptr, &info)) && info.rateRefresh.uiDenominator != 0) {
      hz = double(info.rateRefresh.uiNumerator) / double(info.rateRefresh.uiDenominator);
    }
    FreeLibrary(dwm);
  }
  if (hz < 20 || hz > 500) {
    DEVMODEW mode{};
    mode.dmSize = sizeof mode;
    if (EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode) && mode.dmDisplayFrequency > 1) {
      hz = double(mode.dmDisplayFrequency);
    }
  }
  return hz;
}

bool Win32Display::StartD3D(std::vector<double>& intervals_ms, std::vector<double>& work_ms) {
  d3d_ = std::make_unique<D3DPresenter>();
  std::string why;
  const bool made = d3d_->Create(window_, why);
  made_chain_ = d3d_->chain != nullptr;
  if (!made) {
    statistics_note_ = why;
    d3d_.reset();
    return false;
  }
  // The presents of a black window, timed where each one has been taken for the screen.
  picture_.SetLayout(int32_t(d3d_->width), int32_t(d3d_->height), Rect{});
  d3d_->Update(picture_, {Rect{0, 0, int32_t(d3d_->width), int32_t(d3d_->height)}});
  int64_t previous = 0;
  for (int i = 0; i < kSwapsToMeasure; ++i) {
    const int64_t start = TickThread::MonotonicNs();
    ID3D11Texture2D* back = nullptr;
    if (SUCCEEDED(d3d_->chain->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(&back)))) {
      d3d_->context->CopyResource(back, d3d_->picture);
      Release(back);
    }
    d3d_->context->Flush();
    const int64_t drawn = TickThread::MonotonicNs();
    const HRESULT hr = d3d_->chain->Present(1, 0);
    if (d3d_->latency) WaitForSingleObjectEx(d3d_->latency, 100, FALSE);
    const int64_t now = TickThread::MonotonicNs();
    if (FAILED(hr)) {
      statistics_note_ = "Present failed (" + HresultText(hr) + ")";
      d3d_.reset();
      return false;
    }
    if (i > 0) {
      intervals_ms.push_back(double(now - previous) / 1e6);
      work_ms.push_back(double(drawn - start) / 1e6);
    }
    previous = now;
  }
  d3d_->chain->GetLastPresentCount(&d3d_->presents);
  // Whether the driver times its frames.
  DXGI_FRAME_STATISTICS statistics{};
  const HRESULT hr = d3d_->chain->GetFrameStatistics(&statistics);
  statistics_note_ = SUCCEEDED(hr) ? "" : "GetFrameStatistics answered " + HresultText(hr);
  if (!d3d_->latency) {
    statistics_note_ += std::string(statistics_note_.empty() ? "" : "; ") + "no frame latency wait";
  }
  return true;
}

void Win32Display::StopD3D() { d3d_.reset(); }

void Win32Display::Bind(HWND window, bool run, const std::function<HWND()>& remake_window) {
  StopD3D();
  window_ = window;
  remake_window_ = remake_window;
  compare_next_ = false;
  if (run && window_) {
    const ForcedMode forced = ParseForcedMode(std::getenv(kPresentModeVariable));
    std::vector<double> intervals, work;
    bool d3d = false;
    made_chain_ = false;
    statistics_note_.clear();
    statistics_frames_ = 0;
    if (forced != ForcedMode::Fallback) d3d = StartD3D(intervals, work);
    decision_ = DecidePresentMode(intervals, ReportedRefreshHz(), forced, d3d, work);
    if (decision_.mode == PresentMode::Fallback) {
      StopD3D();
      // GDI does not reliably reach a window that had a flip-model swap chain.
      if (made_chain_ && remake_window_) {
        if (HWND fresh = remake_window_()) window_ = fresh;
      }
    }
    if (!wait_) wait_ = std::make_unique<DeadlineSleeper>();
    pace_locked_ = locked() && !decision_.refresh_locked;
    period_ns_ = int64_t(1e9 * decision_.present_every / decision_.refresh_hz);
    anchor_ns_ = TickThread::MonotonicNs();
    lock_watch_.Start(1000.0 / decision_.refresh_hz);
    lock_lost_ns_ = 0;
    RECT client{};
    GetClientRect(window_, &client);
    picture_.SetLayout(client.right - client.left, client.bottom - client.top, stage_rect_);
    picture_.Invalidate();
    stats_ = Stats{};
    have_last_present_ = false;
    passes_since_present_ = 0;
    last_present_ns_ = 0;
    in_run_ = true;
    std::fprintf(stderr,
                 "pyokoran: presenting %s (%s): %d present intervals, mean %.3f ms, SD %.3f ms; "
                 "screen reports %.2f Hz; frames %s at %.3f Hz%s%s\n",
                 locked() && !pace_locked_ ? "locked to the refresh through a DXGI flip-model swap chain"
                 : locked()                ? "through a DXGI flip-model swap chain, forced although not locked to the refresh"
                                           : "not locked to the refresh, through GDI",
                 decision_.reason.c_str(), decision_.samples, decision_.mean_ms, decision_.sd_ms,
                 decision_.reported_hz, locked() && !pace_locked_ ? "locked" : "paced",
                 decision_.refresh_hz, statistics_note_.empty() ? "" : "; ",
                 statistics_note_.c_str());
    std::fflush(stderr);
  } else if (in_run_) {
    in_run_ = false;
    std::fprintf(stderr,
                 "pyokoran: %d frames presented, %d dropped (more than 1.5 refresh intervals "
                 "after the previous one); longest interval %.1f ms\n",
                 stats_.presented, stats_.dropped, stats_.longest_gap_ms);
    std::fflush(stderr);
  }
}

PresentationReport Win32Display::Report() const {
  PresentationReport r;
  FillFromDecision(decision_, locked(), r);
  if (!statistics_note_.empty()) r.reason += "; " + statistics_note_;
  if (!locked()) {
    r.flip_source = "clock-paced (the picture handed to GDI)";
  } else if (statistics_frames_ > 0 && statistics_frames_ == stats_.presented) {
    r.flip_source = "DXGI frame statistics (the refresh each frame was shown at)";
  } else if (statistics_frames_ > 0) {
    r.flip_source = "DXGI frame statistics for " + std::to_string(statistics_frames_) + " of " +
                    std::to_string(stats_.presented) + " frames, the others when the present's wait returned";
  } else {
    r.flip_source = "present return (the present and its frame latency wait returned)";
  }
  r.lock_lost_ms = lock_lost_ns_ != 0 ? double(lock_lost_ns_) / 1e6 : -1.0;
  r.unlocked_frames = lock_watch_.unlocked_frames();
  r.frames = stats_.presented;
  r.dropped = stats_.dropped;
  r.longest_interval_ms = stats_.longest_gap_ms;
  return r;
}

void Win32Display::Shutdown() {
  StopD3D();
  window_ = nullptr;
  in_run_ = false;
}

void Win32Display::WaitForRefresh() {
  const int64_t now = TickThread::MonotonicNs();
  const int64_t refreshes = (now - anchor_ns_) / period_ns_ + 1;
  if (wait_) wait_->SleepUntil(anchor_ns_ + refreshes * period_ns_);
}

void Win32Display::SendGdi(HDC dc, const std::vector<Rect>& rects) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = picture_.width();
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  for (const Rect& r : rects) {
    const int32_t w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) continue;
    // The rows of r alone, as a top-down picture as wide as the window: one to one.
    info.bmiHeader.biHeight = -h;
    StretchDIBits(dc, r.left, r.top, w, h, r.left, 0, w, h, picture_.row(r.top), &info,
                  DIB_RGB_COLORS, SRCCOPY);
  }
  GdiFlush();
}

bool Win32Display::PresentD3D(const std::vector<Rect>& rects, int64_t& shown_ns, bool& reported) {
  reported = false;
  d3d_->Update(picture_, rects);
  const HRESULT hr = d3d_->PresentAndWait();
  shown_ns = TickThread::MonotonicNs();
  if (FAILED(hr)) return false;
  DXGI_FRAME_STATISTICS statistics{};
  if (SUCCEEDED(d3d_->chain->GetFrameStatistics(&statistics)) &&
      statistics.PresentCount == d3d_->presents && statistics.SyncQPCTime.QuadPart != 0) {
    const int64_t at = CounterToMonotonicNs(statistics.SyncQPCTime.QuadPart);
    if (at <= shown_ns && shown_ns - at < 2 * period_ns_ + 5000000) {
      shown_ns = at;
      reported = true;
      ++statistics_frames_;
    }
  }
  return true;
}

void Win32Display::LoseD3D(const char* why) {
  std::fprintf(stderr, "pyokoran: %s; frames go through GDI, paced on the clock, from now on\n", why);
  std::fflush(stderr);
  StopD3D();
  if (remake_window_) {
    if (HWND fresh = remake_window_()) window_ = fresh;
  }
  if (lock_lost_ns_ == 0) lock_lost_ns_ = TickThread::MonotonicNs();
  decision_.mode = PresentMode::Fallback;
  anchor_ns_ = TickThread::MonotonicNs();
  picture_.Invalidate();
}

void Win32Display::CountPresent(int64_t now_ns) {
  ++stats_.presented;
  // Only presents that follow each other pass by pass count: after a pause in which the
  // loop went round without presenting, the picture was simply standing still.
  if (have_last_present_ && passes_since_present_ <= 1) {
    const double gap = double(now_ns - previous_present_ns_) / 1e6;
    if (gap > 1.5 * double(period_ns_) / 1e6) ++stats_.dropped;
    stats_.longest_gap_ms = std::max(stats_.longest_gap_ms, gap);
  }
  previous_present_ns_ = now_ns;
  last_present_ns_ = now_ns;
  have_last_present_ = true;
  passes_since_present_ = 0;
}

void Win32Display::Present(const Surface& stage, const Rect& stage_rect,
                           const std::vector<Rect>* changed) {
  if (!window_ || !IsWindowVisible(window_)) {
    compare_next_ = true;  // the changes named now would be lost otherwise
    last_present_ns_ = 0;  // nothing went out: neither counted nor stamped
    last_send_ns_ = 0;
    return;
  }
  if (compare_next_) changed = nullptr;
  compare_next_ = false;
  RECT client{};
  GetClientRect(window_, &client);
  stage_rect_ = stage_rect;
  picture_.SetLayout(client.right - client.left, client.bottom - client.top, stage_rect);
  const std::vector<Rect>& rects = picture_.Take(stage, changed);

  if (!locked() || pace_locked_ || decision_.present_every > 1) WaitForRefresh();
  int64_t now_ns = 0;
  last_send_ns_ = 0;
  last_stamp_reported_ = false;
  const int64_t send_start_ns = TickThread::MonotonicNs();
  if (locked()) {
    if (!PresentD3D(rects, now_ns, last_stamp_reported_)) {
      LoseD3D("the Direct3D device was lost");
      compare_next_ = true;
      last_present_ns_ = 0;
      last_stamp_reported_ = false;
      return;
    }
  } else {
    HDC dc = GetDC(window_);
    if (!dc) {
      compare_next_ = true;
      last_present_ns_ = 0;
      return;
    }
    SendGdi(dc, rects);
    ReleaseDC(window_, dc);
    now_ns = TickThread::MonotonicNs();
  }
  // At least 1 ns: a known time, however fast the hand-over was.
  last_send_ns_ = std::max<int64_t>(TickThread::MonotonicNs() - send_start_ns, 1);
  if (locked() && decision_.refresh_locked && decision_.present_every == 1 &&
      lock_watch_.Frame(now_ns / 1000, have_last_present_ && passes_since_present_ <= 1)) {
    // The presents no longer wait: paced on the clock from here on, counted apart.
    if (lock_lost_ns_ == 0) {
      lock_lost_ns_ = lock_watch_.lost_at_us() * 1000;
      pace_locked_ = true;
      anchor_ns_ = TickThread::MonotonicNs();
      std::fprintf(stderr, "pyokoran: the presents stopped waiting for the refresh; frames are "
                           "paced on the clock from now on\n");
      std::fflush(stderr);
    }
  }
  CountPresent(now_ns);
}

void Win32Display::Repaint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (window == window_ && dc) {
    if (locked()) {
      d3d_->PresentAndWait();
    } else if (picture_.width() > 0) {
      SendGdi(dc, {Rect{0, 0, picture_.width(), picture_.height()}});
    } else {
      FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    }
  } else if (dc) {
    FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  }
  EndPaint(window, &paint);
}

}  // namespace pyokoran
