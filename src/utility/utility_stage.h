#pragma once

#include "config/setup_config.h"
#include "core/step_result.h"
#include "utility/utility_plan.h"

// What the utility stage did.
enum UtilityAction { kUtilityUntouched, kUtilityInstalled, kUtilityUpgraded, kUtilityFinished };

// Installs the utility, upgrades an older one, or finishes the upgrade that
// an earlier run's record (plan->carryOver, when active) left unfinished:
// detect, remove, install, carry the settings over. Done when that is done or
// there is nothing to do, with *action telling which; a restart due or under
// way with it. Otherwise the failure's number, before anything changed when
// the package cannot be read.
StepResult RunUtilityStage(const SetupConfig& config, UtilityPlan* plan, UtilityAction* action);
