// The plan's records as hosts hold them, and as the library runs them.
#pragma once

#include "tiling/plan_choice.h"
#include "velmora.h"

PlanWishes wishesOf(const VelmoraPlanRequest& request);
VelmoraPlan planRecord(const ChosenPlan& plan);
// A plan a host handed back, as the library runs it.
ChosenPlan chosenPlan(const VelmoraPlan& plan);
