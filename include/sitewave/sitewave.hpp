// The whole public interface of the sitewave library.
#pragma once

#include "sitewave/batch.hpp"
#include "sitewave/curves.hpp"
#include "sitewave/dialogue.hpp"
#include "sitewave/eql.hpp"
#include "sitewave/error.hpp"
#include "sitewave/grid.hpp"
#include "sitewave/process.hpp"
#include "sitewave/profile.hpp"
#include "sitewave/propagation.hpp"
#include "sitewave/record.hpp"
#include "sitewave/run.hpp"
#include "sitewave/rvt.hpp"
#include "sitewave/site.hpp"
#include "sitewave/steps.hpp"
#include "sitewave/types.hpp"
#include "sitewave/variation.hpp"
