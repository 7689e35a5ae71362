#include "framework/trace/trace_names.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "framework/trace/trace.h"

namespace {

constexpr size_t kNameChars = 100;

constexpr uint32_t kFirstWinsockHresult = 0x80072710; // HRESULT_FROM_WIN32(10000)
constexpr uint32_t kLastWinsockHresult = 0x80072EDF;  // HRESULT_FROM_WIN32(11999)
constexpr uint32_t kFirstRasterError = 0x8005F000;
constexpr uint32_t kLastRasterError = 0x8005FFFF;

constexpr TraceCodeName kHresultNames[] = {
    {0x00000000, "S_OK"},
    {0x00000001, "S_FALSE"},
    {0x000401E8, "MK_S_ASYNCHRONOUS - The operation completes asynchronously"},
    {0x00040237, "VFW_S_STATE_INTERMEDIATE - The state transition has not completed"},
    {0x00040268, "VFW_S_CANT_CUE - The filter is active, but cannot deliver data"},
    // Stream results of the toolkit's filters; the SDK headers do not define them.
    {0x00040300, "S_RESYNC - The stream must be synchronised again"},
    {0x00040301, "S_SEND_EOS - End of stream must be sent downstream"},
    {0x00040302, "S_EOS_SENT - End of stream was sent downstream"},
    {0x00040303, "S_SIZECHANGED - The picture size changed"},
    {0x00040304, "S_FORWARD - The sample is passed on unchanged"},
    {0x00040305, "S_INCOMPLETESYNC - Synchronisation is not complete"},
    {0x00040306, "S_EXCEPTION - An exception was caught and handled"},
    {0x00040307, "S_CHANGEPINTYPE - The pin's media type must change"},
    {0x00040308, "S_OFFSETADJUSTED - The time stamp offset was adjusted"},
    {0x00050001, "KVMM_S_PENDING - The operation continues in the background"},
    {0x00050002, "KVMM_S_END_OF_STREAM - The end of the stream was reached"},
    {0x00050003, "KVMM_S_NEED_MORE_DATA - More input is needed before output can be produced"},
    {0x00050004, "KVMM_S_FORMAT_CHANGED - The output format changed"},
    {0x00050005, "KVMM_S_FRAME_DROPPED - The frame was dropped to keep up"},
    {0x00050006, "KVMM_S_PARTIAL_FRAME - Only part of the frame could be decoded"},
    {0x80004001, "E_NOTIMPL - Not implemented"},
    {0x80004002, "E_NOINTERFACE - No such interface supported"},
    {0x80004003, "E_POINTER - Invalid pointer"},
    {0x80004004, "E_ABORT - Operation aborted"},
    {0x80004005, "E_FAIL - Unspecified error"},
    {0x8000FFFF, "E_UNEXPECTED - Catastrophic failure"},
    {0x8001011F, "RPC_E_TIMEOUT - This operation returned because the timeout period expired"},
    {0x800401E3, "MK_E_UNAVAILABLE - Operation unavailable"},
    {0x80040200, "VFW_E_INVALIDMEDIATYPE - An invalid media type was specified"},
    {0x80040207, "VFW_E_NO_ACCEPTABLE_TYPES - There is no common media type between these pins"},
    {0x80040208, "VFW_E_INVALID_DIRECTION - Two pins of the same direction cannot be connected"},
    {0x8004020D, "VFW_E_BUFFER_OVERFLOW - The buffer is not big enough"},
    {0x80040210, "VFW_E_BUFFERS_OUTSTANDING - One or more buffers are still active"},
    {0x80040211, "VFW_E_NOT_COMMITTED - Cannot allocate a sample when the allocator is not active"},
    {0x80040223, "VFW_E_STATE_CHANGED - The state changed while waiting to process the sample"},
    {0x80040224, "VFW_E_NOT_STOPPED - The filter must be stopped for this operation"},
    {0x80040227, "VFW_E_WRONG_STATE - The filter is in the wrong state for this operation"},
    {0x8004022A, "VFW_E_TYPE_NOT_ACCEPTED - This media type is not accepted"},
    {0x8004022B, "VFW_E_SAMPLE_REJECTED - This sample cannot be rendered"},
    {0x8004022C, "VFW_E_SAMPLE_REJECTED_EOS - This sample cannot be rendered after the end of "
                 "the stream"},
    {0x8004022E, "VFW_E_TIMEOUT - A time-out has expired"},
    {0x80040248, "VFW_E_INVALID_MEDIA_TYPE - The specified media type is invalid"},
    {0x80050001, "KVMM_E_NOT_INITIALIZED - The component has not been initialised"},
    {0x80050002, "KVMM_E_ALREADY_INITIALIZED - The component is already initialised"},
    {0x80050003, "KVMM_E_INVALID_PARAMETER - A parameter is out of range"},
    {0x80050004, "KVMM_E_NULL_POINTER - A required pointer is null"},
    {0x80050005, "KVMM_E_OUT_OF_MEMORY - Memory could not be allocated"},
    {0x80050006, "KVMM_E_NOT_SUPPORTED - The operation is not supported"},
    {0x80050007, "KVMM_E_INTERNAL - Internal error"},
    {0x80050008, "KVMM_E_BUSY - The component is busy"},
    {0x80050009, "KVMM_E_TIMEOUT - The operation timed out"},
    {0x8005000A, "KVMM_E_ABORTED - The operation was aborted"},
    {0x8005000B, "KVMM_E_WRONG_STATE - The operation is not allowed in the current state"},
    {0x8005000C, "KVMM_E_BUFFER_TOO_SMALL - The buffer is too small"},
    {0x8005000D, "KVMM_E_NO_LICENSE - The component is not licensed"},
    {0x80050101, "KVMM_E_INVALID_STREAM - The stream is not valid"},
    {0x80050102, "KVMM_E_STREAM_NOT_FOUND - No stream has the requested number"},
    {0x80050103, "KVMM_E_UNSUPPORTED_CODEC - The codec is not supported"},
    {0x80050104, "KVMM_E_UNSUPPORTED_FORMAT - The media format is not supported"},
    {0x80050105, "KVMM_E_INVALID_MEDIA_TYPE - The media type is not valid"},
    {0x80050106, "KVMM_E_CORRUPT_DATA - The data is corrupt"},
    {0x80050107, "KVMM_E_TRUNCATED_DATA - The data ends early"},
    {0x80050108, "KVMM_E_INVALID_TIMESTAMP - A time stamp is out of order"},
    {0x80050109, "KVMM_E_DISCONTINUITY - The stream has a gap"},
    {0x8005010A, "KVMM_E_END_OF_STREAM - Read past the end of the stream"},
    {0x8005010B, "KVMM_E_SEEK_FAILED - The position could not be reached"},
    {0x80050201, "KVMM_E_INVALID_NAL_UNIT - A NAL unit is malformed"},
    {0x80050202, "KVMM_E_INVALID_SPS - The sequence parameter set is not valid"},
    {0x80050203, "KVMM_E_INVALID_PPS - The picture parameter set is not valid"},
    {0x80050204, "KVMM_E_INVALID_SLICE_HEADER - A slice header is not valid"},
    {0x80050205, "KVMM_E_MISSING_SPS - No sequence parameter set precedes the picture"},
    {0x80050206, "KVMM_E_MISSING_PPS - No picture parameter set precedes the slice"},
    {0x80050207, "KVMM_E_UNSUPPORTED_PROFILE - The profile is not supported"},
    {0x80050208, "KVMM_E_UNSUPPORTED_LEVEL - The level is not supported"},
    {0x80050209, "KVMM_E_UNSUPPORTED_CHROMA_FORMAT - The chroma format is not supported"},
    {0x8005020A, "KVMM_E_UNSUPPORTED_BIT_DEPTH - The bit depth is not supported"},
    {0x8005020B, "KVMM_E_PARTITION_ALLOCATION - The data partition could not be allocated"},
    {0x8005020C, "KVMM_E_REFERENCE_LIST - The reference picture list is not valid"},
    {0x80050301, "KVMM_E_INVALID_BOX - A box is malformed"},
    {0x80050302, "KVMM_E_BOX_TOO_LARGE - A box is larger than its container"},
    {0x80050303, "KVMM_E_MISSING_MOOF - The fragment has no movie fragment box"},
    {0x80050304, "KVMM_E_MISSING_MDAT - The fragment has no media data box"},
    {0x80050305, "KVMM_E_INVALID_SAMPLE_TABLE - The sample table is not valid"},
    {0x80050306, "KVMM_E_INVALID_FRAGMENT - The fragment is not valid"},
    {0x80050401, "KVMM_E_CONNECTION_FAILED - The connection to the server failed"},
    {0x80050402, "KVMM_E_HTTP_STATUS - The server answered with an error status"},
    {0x80050403, "KVMM_E_DOWNLOAD_ABORTED - The download was aborted"},
    {0x80050404, "KVMM_E_INVALID_URL - The URL is not valid"},
    {0x80050405, "KVMM_E_INVALID_MANIFEST - The manifest is not valid"},
    {0x80050406, "KVMM_E_NO_QUALITY_LEVEL - No quality level can be played"},
    {0x80050501, "KVMM_E_NO_DECODER - No decoder accepts the stream"},
    {0x80050502, "KVMM_E_NO_RENDERER - No renderer accepts the stream"},
    {0x80050503, "KVMM_E_ALLOCATOR_FAILED - The sample allocator failed"},
    {0x80050504, "KVMM_E_DEVICE_LOST - The output device was lost"},
    {0x80070002, "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) - The system cannot find the file "
                 "specified"},
    {0x80070005, "E_ACCESSDENIED - General access denied error"},
    {0x80070006, "E_HANDLE - Invalid handle"},
    {0x8007000E, "E_OUTOFMEMORY - Ran out of memory"},
    {0x8007001D, "HRESULT_FROM_WIN32(ERROR_WRITE_FAULT) - The system cannot write to the "
                 "specified device"},
    {0x8007001E, "HRESULT_FROM_WIN32(ERROR_READ_FAULT) - The system cannot read from the "
                 "specified device"},
    {0x80070020, "HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) - The file is being used by "
                 "another process"},
    {0x80070026, "HRESULT_FROM_WIN32(ERROR_HANDLE_EOF) - Reached the end of the file"},
    {0x80070057, "E_INVALIDARG - One or more arguments are invalid"},
    {0x800700B7, "HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) - Cannot create a file when that "
                 "file already exists"},
    {0x800703E6, "HRESULT_FROM_WIN32(ERROR_NOACCESS) - Invalid access to memory location"},
    {0xC00D0029, "NS_E_CONNECTION_FAILURE - The network connection has failed"},
    {0xC00D002B, "NS_E_INVALID_REQUEST - The request is not valid in the current state"},
    {0xC00D002F, "NS_E_INVALID_DATA - The data is not valid"},
    {0xC00D003C, "NS_E_INVALID_STREAM - The stream number is not valid"},
    {0xC00D0807, "ASF_E_BADMEDIATYPE - The media type does not work with this component"},
    {0xC00D0BBE, "NS_E_LICENSE_REQUIRED - A license is required to play the content"},
    {0xC00D151B, "NS_E_INVALID_PUSH_PUBLISHING_POINT - The publishing point does not accept "
                 "pushed content"},
    {0xC00D2767, "NS_E_DRM_DEBUGGING_NOT_ALLOWED - Protected content cannot be played under a "
                 "debugger"},
    {0xC00D2EE2, "NS_E_INTERNAL_SERVER_ERROR - The server met an internal error"},
    {0xC00D2EE6, "NS_E_SERVER_UNAVAILABLE - The server is not available"},
    {0xC00D2EE7, "NS_E_REFUSED_BY_SERVER - The server refused the request"},
    {0xC00D2EE8, "NS_E_INCOMPATIBLE_SERVER - The server is not compatible"},
    {0xC00D2F0B, "NS_E_PUSH_CANNOTCONNECT - Cannot connect to the server to push content"},
    {0xC00D2F0C, "NS_E_INCOMPATIBLE_PUSH_SERVER - The server does not accept pushed content"},
    {0xC06D007E, "VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND) - A delay-loaded "
                 "module was not found"},
    {0xC06D007F, "VcppException(ERROR_SEVERITY_ERROR, ERROR_PROC_NOT_FOUND) - A delay-loaded "
                 "procedure was not found"},
    {0xFEDCBA97, "E_ABORTED_BY_THIS_FILTER"},
    {0xFEDCBA98, "E_ABORTED_BY_DOWNSTREAM_FILTER"},
};

constexpr TraceCodeName kWinsockNames[] = {
    {10004, "WSAEINTR = A blocking operation was interrupted by a call to WSACancelBlockingCall"},
    {10009, "WSAEBADF = The file handle supplied is not valid"},
    {10013, "WSAEACCES = An attempt was made to access a socket in a way forbidden by its access "
            "permissions"},
    {10014, "WSAEFAULT = The system detected an invalid pointer address in attempting to use a "
            "pointer argument in a call"},
    {10022, "WSAEINVAL = An invalid argument was supplied"},
    {10024, "WSAEMFILE = Too many open sockets"},
    {10035, "WSAEWOULDBLOCK = A non-blocking socket operation could not be completed "
            "immediately"},
    {10036, "WSAEINPROGRESS = A blocking operation is currently executing"},
    {10037, "WSAEALREADY = An operation was attempted on a non-blocking socket that already had "
            "an operation in progress"},
    {10038, "WSAENOTSOCK = An operation was attempted on something that is not a socket"},
    {10039, "WSAEDESTADDRREQ = A required address was omitted from an operation on a socket"},
    {10040, "WSAEMSGSIZE = A message sent on a datagram socket was larger than the internal "
            "message buffer or some other network limit, or the buffer used to receive a "
            "datagram into was smaller than the datagram itself"},
    {10041, "WSAEPROTOTYPE = A protocol was specified in the socket function call that does not "
            "support the semantics of the socket type requested"},
    {10042, "WSAENOPROTOOPT = An unknown, invalid, or unsupported option or level was specified "
            "in a getsockopt or setsockopt call"},
    {10043, "WSAEPROTONOSUPPORT = The requested protocol has not been configured into the "
            "system, or no implementation for it exists"},
    {10044, "WSAESOCKTNOSUPPORT = The support for the specified socket type does not exist in "
            "this address family"},
    {10045, "WSAEOPNOTSUPP = The attempted operation is not supported for the type of object "
            "referenced"},
    {10046, "WSAEPFNOSUPPORT = The protocol family has not been configured into the system or no "
            "implementation for it exists"},
    {10047, "WSAEAFNOSUPPORT = An address incompatible with the requested protocol was used"},
    {10048, "WSAEADDRINUSE = Only one usage of each socket address (protocol/network "
            "address/port) is normally permitted"},
    {10049, "WSAEADDRNOTAVAIL = The requested address is not valid in its context"},
    {10050, "WSAENETDOWN = A socket operation encountered a dead network"},
    {10051, "WSAENETUNREACH = A socket operation was attempted to an unreachable network"},
    {10052, "WSAENETRESET = The connection has been broken due to keep-alive activity detecting "
            "a failure while the operation was in progress"},
    {10053, "WSAECONNABORTED = An established connection was aborted by the software in your "
            "host machine"},
    {10054, "WSAECONNRESET = An existing connection was forcibly closed by the remote host"},
    {10055, "WSAENOBUFS = An operation on a socket could not be performed because the system "
            "lacked sufficient buffer space or because a queue was full"},
    {10056, "WSAEISCONN = A connect request was made on an already connected socket"},
    {10057, "WSAENOTCONN = A request to send or receive data was disallowed because the socket "
            "is not connected and (when sending on a datagram socket using a sendto call) no "
            "address was supplied"},
    {10058, "WSAESHUTDOWN = A request to send or receive data was disallowed because the socket "
            "had already been shut down in that direction with a previous shutdown call"},
    {10059, "WSAETOOMANYREFS = Too many references to some kernel object"},
    {10060, "WSAETIMEDOUT = A connection attempt failed because the connected party did not "
            "properly respond after a period of time, or established connection failed because "
            "connected host has failed to respond"},
    {10061, "WSAECONNREFUSED = No connection could be made because the target machine actively "
            "refused it"},
    {10062, "WSAELOOP = Cannot translate name"},
    {10063, "WSAENAMETOOLONG = Name component or name was too long"},
    {10064, "WSAEHOSTDOWN = A socket operation failed because the destination host was down"},
    {10065, "WSAEHOSTUNREACH = A socket operation was attempted to an unreachable host"},
    {10066, "WSAENOTEMPTY = Cannot remove a directory that is not empty"},
    {10067, "WSAEPROCLIM = A Windows Sockets implementation may have a limit on the number of "
            "applications that may use it simultaneously"},
    {10068, "WSAEUSERS = Ran out of quota"},
    {10069, "WSAEDQUOT = Ran out of disk quota"},
    {10070, "WSAESTALE = File handle reference is no longer available"},
    {10071, "WSAEREMOTE = Item is not available locally"},
    {10091, "WSASYSNOTREADY = WSAStartup cannot function at this time because the underlying "
            "system it uses to provide network services is currently unavailable"},
    {10092, "WSAVERNOTSUPPORTED = The Windows Sockets version requested is not supported"},
    {10093, "WSANOTINITIALISED = Either the application has not called WSAStartup, or "
            "WSAStartup failed"},
    {10101, "WSAEDISCON = Returned by WSARecv or WSARecvFrom to indicate the remote party has "
            "initiated a graceful shutdown sequence"},
    {10102, "WSAENOMORE = No more results can be returned by WSALookupServiceNext"},
    {10103, "WSAECANCELLED = A call to WSALookupServiceEnd was made while this call was still "
            "processing. The call has been canceled"},
    {10104, "WSAEINVALIDPROCTABLE = The procedure call table is invalid"},
    {10105, "WSAEINVALIDPROVIDER = The requested service provider is invalid"},
    {10106, "WSAEPROVIDERFAILEDINIT = The requested service provider could not be loaded or "
            "initialized"},
    {10107, "WSASYSCALLFAILURE = A system call that should never fail has failed"},
    {10108, "WSASERVICE_NOT_FOUND = No such service is known. The service cannot be found in the "
            "specified name space"},
    {10109, "WSATYPE_NOT_FOUND = The specified class was not found"},
    {10110, "WSA_E_NO_MORE = No more results can be returned by WSALookupServiceNext"},
    {10111, "WSA_E_CANCELLED = A call to WSALookupServiceEnd was made while this call was still "
            "processing. The call has been canceled"},
    {10112, "WSAEREFUSED = A database query failed because it was actively refused"},
    {11001, "WSAHOST_NOT_FOUND = No such host is known"},
    {11002, "WSATRY_AGAIN = This is usually a temporary error during hostname resolution and "
            "means that the local server did not receive a response from an authoritative "
            "server"},
    {11003, "WSANO_RECOVERY = A non-recoverable error occurred during a database lookup"},
    {11004, "WSANO_DATA = The requested name is valid, but no data of the requested type was "
            "found"},
    {11005, "WSA_QOS_RECEIVERS = At least one reserve has arrived"},
    {11006, "WSA_QOS_SENDERS = At least one path has arrived"},
    {11007, "WSA_QOS_NO_SENDERS = There are no senders"},
    {11008, "WSA_QOS_NO_RECEIVERS = There are no receivers"},
    {11009, "WSA_QOS_REQUEST_CONFIRMED = Reserve has been confirmed"},
    {11010, "WSA_QOS_ADMISSION_FAILURE = Error due to lack of resources"},
    {11011, "WSA_QOS_POLICY_FAILURE = Rejected for administrative reasons - bad credentials"},
    {11012, "WSA_QOS_BAD_STYLE = Unknown or conflicting style"},
    {11013, "WSA_QOS_BAD_OBJECT = Problem with some part of the filterspec or providerspecific "
            "buffer in general"},
    {11014, "WSA_QOS_TRAFFIC_CTRL_ERROR = Problem with some part of the flowspec"},
    {11015, "WSA_QOS_GENERIC_ERROR = General QOS error"},
    {11016, "WSA_QOS_ESERVICETYPE = An invalid or unrecognized service type was found in the "
            "flowspec"},
    {11017, "WSA_QOS_EFLOWSPEC = An invalid or inconsistent flowspec was found in the QOS "
            "structure"},
    {11018, "WSA_QOS_EPROVSPECBUF = Invalid QOS provider-specific buffer"},
    {11019, "WSA_QOS_EFILTERSTYLE = An invalid QOS filter style was used"},
    {11020, "WSA_QOS_EFILTERTYPE = An invalid QOS filter type was used"},
    {11021, "WSA_QOS_EFILTERCOUNT = An incorrect number of QOS FILTERSPECs were specified in the "
            "FLOWDESCRIPTOR"},
    {11022, "WSA_QOS_EOBJLENGTH = An object with an invalid ObjectLength field was specified in "
            "the QOS provider-specific buffer"},
    {11023, "WSA_QOS_EFLOWCOUNT = An incorrect number of flow descriptors was specified in the "
            "QOS structure"},
    {11024, "WSA_QOS_EUNKOWNPSOBJ = An unrecognized object was found in the QOS "
            "provider-specific buffer"},
    {11025, "WSA_QOS_EPOLICYOBJ = An invalid policy object was found in the QOS "
            "provider-specific buffer"},
    {11026, "WSA_QOS_EFLOWDESC = An invalid QOS flow descriptor was found in the flow descriptor "
            "list"},
    {11027, "WSA_QOS_EPSFLOWSPEC = An invalid or inconsistent flowspec was found in the QOS "
            "provider specific buffer"},
    {11028, "WSA_QOS_EPSFILTERSPEC = An invalid FILTERSPEC was found in the QOS "
            "provider-specific buffer"},
    {11029, "WSA_QOS_ESDMODEOBJ = An invalid shape discard mode object was found in the QOS "
            "provider specific buffer"},
    {11030, "WSA_QOS_ESHAPERATEOBJ = An invalid shaping rate object was found in the QOS "
            "provider-specific buffer"},
    {11031, "WSA_QOS_RESERVED_PETYPE = A reserved policy element was found in the QOS "
            "provider-specific buffer"},
};

template <size_t N> constexpr bool IsStrictlyAscending(const TraceCodeName (&rows)[N]) {
    for (size_t i = 1; i < N; ++i) {
        if (!(rows[i - 1].Code < rows[i].Code))
            return false;
    }
    return true;
}

static_assert(std::size(kHresultNames) == 123, "123 HRESULT names");
static_assert(IsStrictlyAscending(kHresultNames), "HRESULT names sorted by unsigned code");
static_assert(std::size(kWinsockNames) == 89, "89 Windows Sockets names");
static_assert(IsStrictlyAscending(kWinsockNames), "Windows Sockets names sorted by code");
static_assert(kWinsockNames[0].Code == 10004 && kWinsockNames[88].Code == 11031,
              "Windows Sockets names span 10004 to 11031");

// Each answer kind in a buffer of its own, per thread: the next call of the same thread
// overwrites it.
thread_local char t_winsockName[kNameChars];
thread_local char t_rasterName[kNameChars];
thread_local char t_hexName[kNameChars];

} // namespace

const TraceCodeName* TraceHresultNames(size_t* count) {
    *count = std::size(kHresultNames);
    return kHresultNames;
}

const TraceCodeName* TraceWinsockNames(size_t* count) {
    *count = std::size(kWinsockNames);
    return kWinsockNames;
}

const char* FindTraceCodeName(const TraceCodeName* rows, size_t count, uint32_t code) {
    const TraceCodeName* end = rows + count;
    const TraceCodeName* row = std::lower_bound(
        rows, end, code, [](const TraceCodeName& r, uint32_t c) { return r.Code < c; });
    return row != end && row->Code == code ? row->Text : nullptr;
}

const char* KTraceErrorName(HRESULT hr) {
    if (!(g_dwKTraceSwitch & KTRACE_ON))
        return "";
    const uint32_t code = uint32_t(hr);
    if (code >= kFirstWinsockHresult && code <= kLastWinsockHresult) {
        const uint32_t error = code & 0xFFFF;
        if (const char* name = FindTraceCodeName(kWinsockNames, std::size(kWinsockNames), error))
            return name;
        std::snprintf(t_winsockName, kNameChars, "Unknown Winsock error (%d=0x%08X)", int(error),
                      unsigned(error));
        return t_winsockName;
    }
    if (code >= kFirstRasterError && code <= kLastRasterError) {
        std::snprintf(t_rasterName, kNameChars, "Korvelsuite Raster Error (%d)",
                      int32_t(kFirstRasterError - code));
        return t_rasterName;
    }
    if (const char* name = FindTraceCodeName(kHresultNames, std::size(kHresultNames), code))
        return name;
    std::snprintf(t_hexName, kNameChars, "0x%08X", unsigned(code));
    return t_hexName;
}
