#include "monitor/monitorstate.h"

namespace korvane {

TMonitorState MonitorState;

}  // namespace korvane
