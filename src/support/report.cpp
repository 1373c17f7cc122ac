#include "support/report.h"

#include <new>
#include <ostream>
#include <stdexcept>

namespace Velmora::Support {

void ReportLine(std::ostream& err, const std::string& line) { err << "velmora2d: " << line << '\n'; }

void ReportProblem(std::ostream& err, const std::string& what, const std::string& reason) {
    ReportLine(err, what + ": " + reason);
}

int GuardMemory(std::ostream& err, const std::function<int()>& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        ReportLine(err, "out of memory; nothing was written");
    } catch (const std::length_error&) {
        ReportLine(err, "out of memory (a size beyond what can be allocated); nothing was written");
    }
    return kStatusFailed;
}

}  // namespace Velmora::Support
