#include "zelto/deck/VideoCassette.h"

VideoCassette::~VideoCassette() = default;

void VideoCassette::SetMediaInfo(Orvex::_OxMediaInfo value) { mediaInfo.store(value); }

Orvex::_OxMediaInfo VideoCassette::GetMediaInfo() const { return mediaInfo.load(); }
