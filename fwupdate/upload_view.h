#pragma once
// What the upload shows while it runs: a status line, a log of every status
// text and a progress in pages. The window's Update page implements it.
#include <string>

namespace qvx {

class IUploadView {
public:
    virtual ~IUploadView() = default;
    // The text becomes the status line, then the last line of the log.
    virtual void ShowStatus(const std::string& text) = 0;
    // Empties the status line; nothing is logged.
    virtual void ClearStatus() = 0;
    // The progress runs from 0 to max.
    virtual void SetProgressRange(int max) = 0;
    // A position outside the range shows as its nearer end.
    virtual void SetProgress(int position) = 0;
    virtual int ProgressMax() const = 0;
};

} // namespace qvx
