// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Everything the main window uses of the diagnostics: records, pages and the report.

#include "diagnostics/DiagnosticsReport.h"
#include "diagnostics/OpticsData.h"
#include "diagnostics/OpticsPage.h"
#include "diagnostics/ReportFile.h"
#include "diagnostics/SensorsData.h"
#include "diagnostics/SensorsPage.h"
#include "diagnostics/StatisticsData.h"
#include "diagnostics/StatisticsPage.h"
#include "diagnostics/VideoTestData.h"
#include "diagnostics/VideoTestPage.h"
