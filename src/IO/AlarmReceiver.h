// Receiver of the camera's sensor text blocks cut out of the video stream.
#pragma once
#include <string>

namespace velmora {

class IAlarmReceiver {
public:
    virtual ~IAlarmReceiver() = default;
    // Called from capture threads with the text from "SECTION SENSORS" up to its end marker.
    virtual void ProcessSensorSection(const std::string& text) = 0;
};

}  // namespace velmora
