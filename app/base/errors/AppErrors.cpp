#include "AppErrors.h"

#include "dao/dao.h"
#include "file/Error.h"

#include "com/oleauto.h"

#include <exception>
#include <new>

namespace app {

std::string RuntimeErrorText(long number) {
    switch (number) {
        case 5: return "Invalid procedure call or argument";
        case 6: return "Overflow";
        case 7: return "Out of memory";
        case 9: return "Subscript out of range";
        case 13: return "Type mismatch";
        case 52: return "Bad file name or number";
        case 53: return "File not found";
        case 75: return "Path/File access error";
        case 91: return "Object variable or With block variable not set";
        case 94: return "Invalid use of Null";
        case 481: return "Invalid picture";
        case 482: return "Printer error";
        default: return "Application-defined or object-defined error";
    }
}

void RaiseError(long number) { throw RuntimeError(number, RuntimeErrorText(number)); }

ErrInfo CurrentError() {
    try {
        throw;
    } catch (const dao::DaoError& e) {
        return {e.Number(), e.Description()};
    } catch (const RuntimeError& e) {
        return {e.Number(), e.what()};
    } catch (const file::Error& e) {
        return {e.Number(), e.what()};
    } catch (const com::Error& e) {
        if (e.hr() == DISP_E_TYPEMISMATCH) return {13, RuntimeErrorText(13)};
        if (e.hr() == DISP_E_OVERFLOW) return {6, RuntimeErrorText(6)};
        return {long(HRESULT_CODE(e.hr())), e.what()};
    } catch (const std::bad_alloc&) {
        return {7, RuntimeErrorText(7)};
    } catch (const std::exception& e) {
        return {5, e.what()};
    } catch (...) {
        return {5, RuntimeErrorText(5)};
    }
}

}  // namespace app
