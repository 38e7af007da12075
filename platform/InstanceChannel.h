#pragma once

/** The per-user single instance and the delivery of redirect URLs to it (to be built). */
class InstanceChannel final
{
};
