// The camcorder's preview settings, kept with the shared state.
#include "simulator/Camcorder.h"

#include <cstdint>

namespace zelto::sim {

HRESULT Camcorder::ChangePreview(const std::function<void(PreviewSettings&)>& change) {
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  return ChangeLocked([&](Tick) {
    PreviewSettings preview = model_.Preview();
    change(preview);
    model_.SetPreview(preview);
    return S_OK;
  });
}

HRESULT Camcorder::SetPreviewOwner(HWND window) {
  if (!window || !IsWindow(window)) return E_INVALIDARG;
  return ChangePreview([&](PreviewSettings& p) { p.ownerWindow = reinterpret_cast<std::uintptr_t>(window); });
}

HRESULT Camcorder::SetPreviewRect(const RECT* rect) {
  if (!rect) return E_POINTER;
  if (rect->right < rect->left || rect->bottom < rect->top) return E_INVALIDARG;
  const RECT r = *rect;
  return ChangePreview([&](PreviewSettings& p) { p.rect = r; });
}

HRESULT Camcorder::SetPreviewMode(DWORD mode) {
  if (mode != 0 && mode != 2 && mode != 3) return E_INVALIDARG;
  return ChangePreview([&](PreviewSettings& p) { p.mode = mode; });
}

HRESULT Camcorder::SetPreviewVolume(DWORD level) {
  if (level > 100) return E_INVALIDARG;
  return ChangePreview([&](PreviewSettings& p) { p.volume = level; });
}

HRESULT Camcorder::SetDecodeQuality(DWORD code, BOOL deinterlace) {
  // The decoder's three settings: 1 fastest, 3 balanced, 7 best.
  if (code != 1 && code != 3 && code != 7) return E_INVALIDARG;
  return ChangePreview([&](PreviewSettings& p) {
    p.quality = code;
    p.deinterlace = deinterlace != FALSE;
  });
}

PreviewSettings Camcorder::Preview() {
  std::lock_guard guard(lock_);
  AdvanceLocked(Now());
  return model_.Preview();
}

}  // namespace zelto::sim
