// What the app decides about a request before PAPPL acts on it, through
// PAPPL's authentication callback, the one hook PAPPL 1.3.1 consults
// before it creates a job:
//
// - A raster document from the network (PWG or Apple raster, or a document
//   whose type the client leaves open) is spooled and read by the app
//   instead of being streamed. PAPPL answers a streamed raster that meets a
//   busy printer through a path that takes the printer's lock and then the
//   system's, the opposite of the order its main loop and state saving
//   use; spooled, it waits in the queue like any other job.
// - A cancellation waits while the printer is starting a job: PAPPL can
//   still start a job canceled in that instant.
// - Who may do what stays as PAPPL decides it without a callback: any
//   client on this machine; printing and its own jobs from the network
//   (now over TLS: PAPPL asks an unencrypted remote client to upgrade once
//   a callback is set); administration only from this machine; the web
//   pages open unless a password is set on the Security page, which they
//   then ask for (a browser login instead of PAPPL's form).
//
// Clients of the app's local domain socket (its own command line) are
// authorized by PAPPL without the callback: the command line sends raster
// documents as spooled documents itself (see main.cpp).
#ifndef VORCP_PRINTERAPP_ADMISSION_H
#define VORCP_PRINTERAPP_ADMISSION_H

#include <pappl/pappl.h>

namespace vorcp {

http_status_t Authorize(pappl_client_t *client, const char *group, gid_t groupid, void *data);

} // namespace vorcp

#endif
