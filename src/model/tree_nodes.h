// Every node class of the parameter tree, for code that works with the tree as a whole.
#pragma once

#include "model/common_params.h"
#include "model/desc_branch.h"
#include "model/invisible_element.h"
#include "model/net_rs485.h"
#include "model/object_with_parameters.h"
#include "model/parameter.h"
#include "model/parameter_steps.h"
