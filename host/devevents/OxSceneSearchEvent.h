// Events of a scene search (a seek to a tape position followed by play).
#pragma once

namespace Orvex {

enum _OxSceneSearchEventID : int {
  OX_SCENE_SEARCH_COMPLETE = 0,  // the position was reached and play began
  OX_SCENE_PLAYING_COMPLETE = 1  // the scene's play has ended
};

class OxSceneSearchEvent {
public:
  explicit OxSceneSearchEvent(_OxSceneSearchEventID id) : id(id) {}
  virtual ~OxSceneSearchEvent() = default;
  OxSceneSearchEvent(const OxSceneSearchEvent&) = default;
  OxSceneSearchEvent& operator=(const OxSceneSearchEvent&) = default;

  _OxSceneSearchEventID GetEventID() const { return id; }

private:
  _OxSceneSearchEventID id;
};

}  // namespace Orvex
