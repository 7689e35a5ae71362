// One-line explanations of the HRESULTs the host can meet.
#pragma once

#include <string>

#include "framework/platform/platform.h"

// "0x80070002", the form every output of the host uses.
std::string HresultCode(HRESULT hr);
// "0x80070002: the server answered with a status other than 200 (not found)" etc.
std::string DescribeHresult(HRESULT hr);
