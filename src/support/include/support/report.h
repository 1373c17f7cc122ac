// How the file commands end and speak: exit statuses and one-line messages
// on the error stream, "velmora2d: WHAT: REASON".
#ifndef VELMORA_SUPPORT_REPORT_H
#define VELMORA_SUPPORT_REPORT_H

#include <functional>
#include <iosfwd>
#include <string>

namespace Velmora::Support {

constexpr int kStatusOk = 0;
constexpr int kStatusUsage = 1;
constexpr int kStatusFailed = 2;

void ReportLine(std::ostream& err, const std::string& line);
void ReportProblem(std::ostream& err, const std::string& what, const std::string& reason);

// Runs `body`, turning memory exhaustion into a message and kStatusFailed.
int GuardMemory(std::ostream& err, const std::function<int()>& body);

}  // namespace Velmora::Support

#endif  // VELMORA_SUPPORT_REPORT_H
