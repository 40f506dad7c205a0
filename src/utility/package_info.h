#pragma once

#include <windows.h>

#include "config/setup_config.h"
#include "core/step_result.h"
#include "utility/utility_plan.h"

// Copies the package named in Inst.Inf into the package cache before anyone
// is asked, so that the run reads, and msiexec installs, what was there then:
// plan->package names the copy, or plan->packageCopyError the failure. A
// product folder that others than administrators can change is named in the
// log.
void CopyPackageToCache(const SetupConfig& config, UtilityPlan* plan);

// Deletes the package's copy, unless it is now an installed product's source.
void RemovePackageCopyUnlessKept(const UtilityPlan& plan);

// Reads ProductCode and ProductVersion of the package's copy. Done when both
// were read; otherwise the failure of its copy, the error of opening it, or
// 1620 when it lacks either property.
StepResult ReadPackageProperties(UtilityPlan* plan);
