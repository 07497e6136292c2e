// The component runtime: everything a server or a client includes.
#pragma once

#include "com/types.h"
#include "com/unknown.h"
#include "com/oleauto.h"
#include "com/dispatch.h"
#include "com/server.h"
#include "com/refcounted.h"
#include "com/guard.h"
