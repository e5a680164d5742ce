#include "module.h"

#include <climits>

namespace modsim {

Module::Module(ModuleConfig config)
    : cfg_(std::move(config))
{
}

void Module::receive(const Frame &, int64_t) {}

void Module::advance(int64_t) {}

int64_t Module::nextDeadlineUs() const
{
    return INT64_MAX;
}

std::vector<Frame> Module::takeOutgoing()
{
    return {};
}

std::vector<std::string> Module::takeEvents()
{
    return {};
}

bool Module::saveImage(std::string *error) const
{
    if (cfg_.imagePath.empty())
        return true;
    return saveS3File(image_, cfg_.imagePath, error);
}

} // namespace modsim
