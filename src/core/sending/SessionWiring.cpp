#include "SessionWiring.h"

#include "contacts/AddressBookSource.h"
#include "contacts/AddressBookUtil.h"
#include "sending/BundleUploader.h"
#include "session/Service.h"

namespace lf {

void wireSession(Service &service) {
    BundleUploader::install(service);
    // The sources read the session of the moment: a sign-out and sign-in may replace it.
    AddressBookUtil::Sources sources;
    sources.contacts = [] { return Service::currentService()->contacts(); };
    sources.discoContacts = [] { return Service::currentService()->discoContacts(); };
    // As last loaded: naming runs on the main thread and must not wait for the network.
    sources.destinations = [] { return Service::currentService()->destinationsSnapshot(); };
    sources.consumers = [] { return Service::currentService()->consumers(); };
    sources.getURI = [](const QString &url) { return Service::currentService()->getURI(url); };
    sources.addressBook = AddressBookSource::systemDefault();
    AddressBookUtil::setSingletonSources(std::move(sources));
}

} // namespace lf
