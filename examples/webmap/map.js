// SPDX-License-Identifier: MIT
// Camera markers on the site map. The host calls these functions through the control:
//   addCamera(id, name, y, x, state)   moveCamera(id, y, x)   setCameraState(id, state)
//   clickCamera(id)                    (what a click on the marker does, for scripted runs)
// and hears "initComplete" once the map is drawn and "cameraClicked" with the camera's id.
var STATE_COLOURS = {
  live: '#2e9d3a', opening: '#d0a21c', slow: '#e07b1a', reconnecting: '#d0a21c',
  failed: '#c4312b', closed: '#777777'
};

var map = L.map('map', {crs: L.CRS.Simple, minZoom: -2, maxZoom: 3, zoomSnap: 0.25,
                        attributionControl: false});
var cameras = {};

function host(name, data) {
  if (window.external && window.external.MainCall)
    return window.external.MainCall(name, String(data));
  return 0;
}

function addCamera(id, name, y, x, state) {
  if (cameras[id])
    map.removeLayer(cameras[id]);
  var colour = STATE_COLOURS[state] || STATE_COLOURS.opening;
  var marker = L.circleMarker([y, x], {radius: 7, color: '#ffffff', weight: 2,
                                       fillColor: colour, fillOpacity: 1});
  marker.bindTooltip(name, {direction: 'top', offset: [0, -6]});
  marker.on('click', function () { host('cameraClicked', id); });
  marker.addTo(map);
  cameras[id] = marker;
  return id;
}

function moveCamera(id, y, x) {
  if (cameras[id])
    cameras[id].setLatLng([y, x]);
}

function setCameraState(id, state) {
  if (cameras[id])
    cameras[id].setStyle({fillColor: STATE_COLOURS[state] || STATE_COLOURS.opening});
}

function clickCamera(id) {
  if (cameras[id])
    cameras[id].fire('click');
}

drawSite(map);
map.fitBounds([[0, 0], SITE.size]);
map.whenReady(function () {
  host('initComplete', JSON.stringify({cameras: Object.keys(cameras).length,
                                       size: SITE.size}));
});
