#pragma once

// The steps of the process entry around the event loop, kept in the library
// so the entry stays short and the steps can be read in order.

// Environment for the application object; a display is never needed.
void prepareEnvironment();
// Brings up every service on its thread, in start-up order, with the banners.
void startServices();
// Closes the CAN device and stops the worker threads, the logger's last.
void stopServices();
// The lock-down step of manufacturing and update mode.
void lockdown();
