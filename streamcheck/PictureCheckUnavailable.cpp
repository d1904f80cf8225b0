// A build without FFmpeg (the Windows one): the packets are still
// accounted for; the pictures are not looked at.
#include "streamcheck/PictureCheck.h"

namespace zelto::streamcheck {

bool CanCheckPictures() { return false; }

void CheckPictures(ByteSource&, StreamReport& report) {
  report.picturesChecked = false;
  report.picturesNotCheckedWhy = "this build has no video decoder";
}

}  // namespace zelto::streamcheck
