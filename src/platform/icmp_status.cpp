#include "platform/icmp_status.h"

#include <cerrno>

IcmpStatus StatusForIcmpError(uint8_t type, uint8_t code) {
  switch (type) {
    case 3:  // destination unreachable
      switch (code) {
        case 0:   // network
        case 6:   // network unknown
        case 9:   // network administratively prohibited
        case 11:  // network unreachable for the type of service
          return kIcmpDestNetUnreachable;
        case 2:
          return kIcmpDestProtocolUnreachable;
        case 3:
          return kIcmpDestPortUnreachable;
        case 4:  // fragmentation needed but "don't fragment" set
          return kIcmpPacketTooBig;
        case 5:  // source route failed
          return kIcmpBadRoute;
        default:
          return kIcmpDestHostUnreachable;
      }
    case 4:
      return kIcmpSourceQuench;
    case 11:
      return code == 1 ? kIcmpTtlExpiredInReassembly : kIcmpTtlExpiredInTransit;
    case 12:
      return kIcmpParameterProblem;
    default:
      return kIcmpGeneralFailure;
  }
}

IcmpStatus StatusForSendErrno(int error) {
  switch (error) {
    case ENETUNREACH:
    case ENETDOWN:
      return kIcmpDestNetUnreachable;
    case EHOSTUNREACH:
      return kIcmpDestHostUnreachable;
    case EMSGSIZE:
      return kIcmpPacketTooBig;
    case ENOBUFS:
    case ENOMEM:
      return kIcmpNoResources;
    default:
      return kIcmpGeneralFailure;
  }
}
