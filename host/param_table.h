// The FxParams fields as the command line names them: unit, range, default and value names.
#pragma once

#include "filter/fx_params.h"

#include <string>
#include <vector>

namespace host {

struct ParamField {
    const char* name;                  // the FxParams field name
    size_t offset;                     // byte offset in FxParams
    const char* unit;
    int minimum;
    int maximum;
    std::vector<const char*> choices;  // value names of an enumeration, empty otherwise
};

const std::vector<ParamField>& ParamFields();
const ParamField* FindParamField(const std::string& name);

int32_t GetField(const FxParams& p, const ParamField& f);
void SetField(FxParams* p, const ParamField& f, int32_t value);

// "500", or an enumeration's value name ("Tempo", "Hall", case-insensitive).
bool ParseFieldValue(const ParamField& f, const std::string& text, int32_t* value);
std::string DescribeValue(const ParamField& f, int32_t value);

// Which blocks a record switches on, e.g. "delay (Tempo, Dotted Eighth Note), EQ".
std::string DescribeBlocks(const FxParams& p);

bool EqualsIgnoreCase(const std::string& a, const std::string& b);

}  // namespace host
