#include "environment.h"

#include <cstdlib>
#include <sstream>
#include <string>

#include "camera_model.h"

namespace camera_sim {

void applyEnvironment(CameraModel& model) {
    const char* settings = std::getenv("CAMERA_STANDIN");
    if (!settings)
        return;
    std::istringstream in(settings);
    for (std::string pair; std::getline(in, pair, ',');) {
        const size_t equals = pair.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string name = pair.substr(0, equals);
        const double value = std::atof(pair.c_str() + equals + 1);
        if (name == "present")
            model.setCameraPresent(value != 0);
        else
            model.setOption(name.c_str(), value);
    }
}

}  // namespace camera_sim
