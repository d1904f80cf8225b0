// A typed event listener. Events arrive by const reference on whichever thread
// raises them.
#pragma once

template <typename T>
class KelEventListener {
public:
  virtual ~KelEventListener() = default;
  virtual void OnEvent(const T& event) = 0;
};
