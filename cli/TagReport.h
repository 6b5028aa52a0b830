// Every field of the two tag objects as report objects, shared by the
// info and tags commands.
#pragma once

#include "cli/Report.h"

class TID3v1;
class TID3v2;

ReportValue DescribeId3v1(const TID3v1& tag);
ReportValue DescribeId3v2(const TID3v2& tag);
