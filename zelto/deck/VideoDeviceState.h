// What a deck button does depends on what the tape is doing: each deck state
// is a stateless object that picks the controller operation for a button.
// The base does nothing for every button; a state overrides what it allows.
#pragma once

#include <cstdint>

#include "host/foundation/OxDeviceTypes.h"
#include "zelto/deck/VideoDeviceController.h"

class VideoDeviceState {
public:
  virtual HRESULT Play(VideoDeviceController& controller);
  virtual HRESULT Stop(VideoDeviceController& controller);
  virtual HRESULT FastForward(VideoDeviceController& controller);
  virtual HRESULT FastRewind(VideoDeviceController& controller);
  virtual HRESULT Pause(VideoDeviceController& controller);
  virtual HRESULT StepForward(VideoDeviceController& controller);
  virtual HRESULT StepReverse(VideoDeviceController& controller);
  virtual HRESULT PlaySlow(VideoDeviceController& controller);
  virtual HRESULT Shuttle(VideoDeviceController& controller, std::int32_t speed);
  virtual Orvex::_OxVideoDeviceState GetValue() const = 0;

protected:
  VideoDeviceState() = default;
  // Not virtual: the deck holds its states by value and never deletes one
  // through this class.
  ~VideoDeviceState() = default;
};

class ZeltoStopState : public VideoDeviceState {
public:
  HRESULT Play(VideoDeviceController& controller) override;
  HRESULT Stop(VideoDeviceController& controller) override;
  HRESULT FastForward(VideoDeviceController& controller) override;
  HRESULT FastRewind(VideoDeviceController& controller) override;
  Orvex::_OxVideoDeviceState GetValue() const override;
};

class ZeltoPlayState : public VideoDeviceState {
public:
  HRESULT Play(VideoDeviceController& controller) override;
  HRESULT Stop(VideoDeviceController& controller) override;
  HRESULT FastForward(VideoDeviceController& controller) override;
  HRESULT FastRewind(VideoDeviceController& controller) override;
  HRESULT Pause(VideoDeviceController& controller) override;
  HRESULT PlaySlow(VideoDeviceController& controller) override;
  Orvex::_OxVideoDeviceState GetValue() const override;
};

class ZeltoPauseState : public VideoDeviceState {
public:
  HRESULT Play(VideoDeviceController& controller) override;
  HRESULT Stop(VideoDeviceController& controller) override;
  HRESULT FastForward(VideoDeviceController& controller) override;
  HRESULT FastRewind(VideoDeviceController& controller) override;
  HRESULT Pause(VideoDeviceController& controller) override;
  HRESULT PlaySlow(VideoDeviceController& controller) override;
  Orvex::_OxVideoDeviceState GetValue() const override;
};

class ZeltoFastForwardState : public VideoDeviceState {
public:
  HRESULT Play(VideoDeviceController& controller) override;
  HRESULT Stop(VideoDeviceController& controller) override;
  HRESULT FastRewind(VideoDeviceController& controller) override;
  Orvex::_OxVideoDeviceState GetValue() const override;
};

class ZeltoRewindState : public VideoDeviceState {
public:
  HRESULT Play(VideoDeviceController& controller) override;
  HRESULT Stop(VideoDeviceController& controller) override;
  HRESULT FastForward(VideoDeviceController& controller) override;
  Orvex::_OxVideoDeviceState GetValue() const override;
};

class ZeltoPlayFastestForwardState : public VideoDeviceState {
public:
  HRESULT Play(VideoDeviceController& controller) override;
  HRESULT Stop(VideoDeviceController& controller) override;
  HRESULT FastRewind(VideoDeviceController& controller) override;
  HRESULT Pause(VideoDeviceController& controller) override;
  HRESULT PlaySlow(VideoDeviceController& controller) override;
  Orvex::_OxVideoDeviceState GetValue() const override;
};

class ZeltoPlayFastestReverseState : public VideoDeviceState {
public:
  HRESULT Play(VideoDeviceController& controller) override;
  HRESULT Stop(VideoDeviceController& controller) override;
  HRESULT FastForward(VideoDeviceController& controller) override;
  HRESULT Pause(VideoDeviceController& controller) override;
  HRESULT PlaySlow(VideoDeviceController& controller) override;
  Orvex::_OxVideoDeviceState GetValue() const override;
};

class ZeltoPlaySlowestForwardState : public VideoDeviceState {
public:
  HRESULT Play(VideoDeviceController& controller) override;
  HRESULT Stop(VideoDeviceController& controller) override;
  HRESULT FastForward(VideoDeviceController& controller) override;
  HRESULT FastRewind(VideoDeviceController& controller) override;
  HRESULT Pause(VideoDeviceController& controller) override;
  Orvex::_OxVideoDeviceState GetValue() const override;
};

// Recording is ended through the recording operations, never a deck button.
class ZeltoRecordState : public VideoDeviceState {
public:
  // Reports the record-pause value as well: the deck never reports 4.
  Orvex::_OxVideoDeviceState GetValue() const override;
};

class ZeltoRecordPauseState : public VideoDeviceState {
public:
  Orvex::_OxVideoDeviceState GetValue() const override;
};

class ZeltoUnknownState : public VideoDeviceState {
public:
  Orvex::_OxVideoDeviceState GetValue() const override;
};
