// A module's image file: read once before its first frame, written at each
// restart and when its host ends.
#include "module.h"

#include "imagefile.h"

#include <optional>
#include <utility>

namespace modsim {

bool Module::restoreImage(std::string *error)
{
    if (cfg_.imagePath.empty())
        return true;
    Image image;
    std::optional<ImageState> state;
    std::string problem;
    const ImageFileRead read = readImageFile(cfg_.imagePath, &image, &state, &problem);
    if (read == ImageFileRead::Failed) {
        restoreProblem_ = problem;
        phase_ = Phase::Dead;
        note("image not read: " + problem + "; stays silent");
        if (error)
            *error = problem;
        return false;
    }
    if (read == ImageFileRead::Missing)
        return true;
    image_ = std::move(image);
    if (state) {
        release_ = state->release;
        reupdate_ = state->reupdate;
    }
    note("started from its image " + cfg_.imagePath + ", release " + release_);
    return true;
}

bool Module::saveImage(std::string *error) const
{
    if (cfg_.imagePath.empty())
        return true;
    // A file that could not be read may still be someone's only copy.
    if (!restoreProblem_.empty()) {
        if (error)
            *error = restoreProblem_ + "; left as it is";
        return false;
    }
    return saveS3File(image_, cfg_.imagePath, error, imageHeader(ImageState{release_, reupdate_}));
}

} // namespace modsim
