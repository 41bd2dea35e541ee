// One owned reference to a COM object (Direct3D's objects and the imaging component's alike).
#pragma once

namespace preview {

template <class Interface>
class ComRef {
 public:
  ComRef() = default;
  // Takes over a reference that a function returned.
  explicit ComRef(Interface* p) : p_(p) {}
  ~ComRef() { Reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef(ComRef&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      Reset();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }

  Interface* get() const { return p_; }
  Interface* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Where a call that hands out a reference puts it; any reference held before is released first.
  Interface** out() {
    Reset();
    return &p_;
  }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  Interface* p_ = nullptr;
};

}  // namespace preview
