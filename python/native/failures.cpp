#include "python/native/failures.h"

#include <cerrno>

namespace py = pybind11;

namespace plinth::python {
namespace {

Failure failure(FailureKind kind, std::string reason, int systemError = 0, std::string path = std::string()) {
    return Failure{kind, std::move(reason), systemError, std::move(path)};
}

// errno for an input refusal that has none of its own, so that callers can branch on it.
int inputErrno(InputError error, int systemError) {
    if (systemError != 0) return systemError;
    return error == InputError::isFolder ? EISDIR : 0;
}

}  // namespace

Failure resampleFailure(const ResampleStatus& status, const std::string& inPath, const std::string& outPath) {
    const std::string reason = describeResampleError(status);
    switch (status.error) {
        case ResampleError::invalidParameters:
        case ResampleError::shortHeader:
        case ResampleError::notRiff:
        case ResampleError::unsupportedFormat:
        case ResampleError::noSuchChannel:
        case ResampleError::tooManyChannels:
            return failure(FailureKind::unsupportedInput, reason, 0, inPath);
        case ResampleError::unreadableWav:
            if (status.wavError == WavReadError::readFailed) {
                return failure(FailureKind::file, reason, inputErrno(status.inputError, status.systemError), inPath);
            }
            return failure(FailureKind::unsupportedInput, reason, 0, inPath);
        case ResampleError::tooLarge: return failure(FailureKind::unsupportedInput, reason, 0, outPath);
        case ResampleError::cannotOpenInput:
        case ResampleError::readFailed:
            return failure(FailureKind::file, reason, inputErrno(status.inputError, status.systemError), inPath);
        case ResampleError::cannotOpenOutput:
        case ResampleError::writeFailed:
            return failure(FailureKind::file, reason, status.systemError != 0 ? status.systemError : EIO, outPath);
        case ResampleError::none:
        case ResampleError::outOfMemory:
        case ResampleError::stopped: break;
    }
    return failure(FailureKind::other, reason, 0, inPath);
}

Failure moduleFailure(const ModuleStatus& status, const std::string& inPath, const std::string& outPath) {
    const std::string reason = describeModuleError(status);
    switch (status.error) {
        case ModuleError::invalidRate:
        case ModuleError::emptyInput:
        case ModuleError::inputTooLarge:
        case ModuleError::notPlayable:
        case ModuleError::tooLong: return failure(FailureKind::unsupportedInput, reason, 0, inPath);
        case ModuleError::cannotReadInput:
            return failure(FailureKind::file, reason, inputErrno(status.inputError, status.systemError), inPath);
        case ModuleError::cannotOpenOutput:
        case ModuleError::writeFailed:
            return failure(FailureKind::file, reason, status.systemError != 0 ? status.systemError : EIO, outPath);
        case ModuleError::none:
        case ModuleError::outOfMemory:
        case ModuleError::stopped:
        case ModuleError::stemsMismatch: break;
    }
    return failure(FailureKind::other, reason, 0, inPath);
}

Failure infoFailure(const FileDescription& description, const std::string& path) {
    switch (description.error) {
        case InfoError::unreadable:
            return failure(FailureKind::file, describeInfoError(description),
                           inputErrno(description.inputError, description.systemError), path);
        case InfoError::moduleRefused: return moduleFailure(description.moduleStatus, path, path);
        case InfoError::outOfMemory: return failure(FailureKind::other, describeInfoError(description), ENOMEM, path);
        case InfoError::wavRefused:
            if (description.wavStatus.error == WavReadError::readFailed) {
                return failure(FailureKind::file, describeInfoError(description),
                               inputErrno(description.wavStatus.inputError, description.wavStatus.systemError), path);
            }
            break;
        case InfoError::stopped: return failure(FailureKind::other, describeInfoError(description), 0, path);
        case InfoError::none:
        case InfoError::unrecognised: break;
    }
    return failure(FailureKind::unsupportedInput, describeInfoError(description), 0, path);
}

py::str pathText(const std::string& path) {
    return py::reinterpret_steal<py::str>(
        PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size())));
}

void raiseFailure(const Failure& failure) {
    const py::module_ errors = py::module_::import("plinth._errors");
    py::object error;
    if (failure.kind == FailureKind::file && !failure.path.empty()) {
        // OSError's own form: errno (None when there is none), strerror and filename.
        const py::object number = failure.systemError != 0 ? py::object(py::int_(failure.systemError)) : py::none();
        error = errors.attr("FileError")(number, failure.reason, pathText(failure.path));
    } else {
        const char* name = failure.kind == FailureKind::file               ? "FileError"
                           : failure.kind == FailureKind::unsupportedInput ? "UnsupportedInputError"
                                                                           : "Error";
        const py::str message = failure.path.empty()
                                    ? py::str(failure.reason)
                                    : py::str(pathText(failure.path) + py::str(": " + failure.reason));
        error = errors.attr(name)(message);
    }
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    throw py::error_already_set();
}

}  // namespace plinth::python
