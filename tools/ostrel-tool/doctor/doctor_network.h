// --network: one exchange with the lookup service, built and checked by the
// library's own request and answer code.  Nothing else in the doctor sends.
#pragma once
#include "doctor/doctor_findings.h"

namespace doctor {

finding network_finding(const folder_read& read);

}  // namespace doctor
