// SPDX-License-Identifier: MIT
// The base map of the demo site, in metres from its south-west corner: our own small vector
// drawing, so that the page needs nothing from the network.
var SITE = {
  size: [400, 600], // north-south, west-east
  areas: [
    {name: 'Park', kind: 'green', points: [[200, 20], [390, 20], [390, 220], [200, 220]]},
    {name: 'Lake', kind: 'water', points: [[300, 40], [360, 70], [370, 150], [330, 190], [280, 160], [270, 90]]},
    {name: 'Car park', kind: 'paved', points: [[20, 420], [110, 420], [110, 580], [20, 580]]}
  ],
  buildings: [
    {name: 'Main hall', points: [[140, 260], [220, 260], [220, 400], [140, 400]]},
    {name: 'Workshop', points: [[250, 300], [330, 300], [330, 380], [250, 380]]},
    {name: 'Store', points: [[250, 430], [360, 430], [360, 560], [250, 560]]},
    {name: 'Gate house', points: [[40, 250], [70, 250], [70, 290], [40, 290]]},
    {name: 'Office', points: [[140, 440], [210, 440], [210, 560], [140, 560]]}
  ],
  roads: [
    {name: 'Ring road', points: [[120, 230], [120, 590], [380, 590], [380, 240], [120, 240]]},
    {name: 'Entrance', points: [[0, 270], [120, 270]]},
    {name: 'Yard lane', points: [[120, 415], [380, 415]]}
  ]
};

var SITE_STYLE = {
  water: {color: '#6b9dc2', fillColor: '#a9cbe3', fillOpacity: 1, weight: 1},
  green: {color: '#9cc59a', fillColor: '#cfe6c7', fillOpacity: 1, weight: 1},
  paved: {color: '#a7a7a7', fillColor: '#d9d9d9', fillOpacity: 1, weight: 1},
  building: {color: '#7d6e63', fillColor: '#c9b8a6', fillOpacity: 1, weight: 1.5},
  road: {color: '#ffffff', weight: 9, opacity: 1, lineCap: 'round'},
  roadEdge: {color: '#b5b5b5', weight: 11, opacity: 1, lineCap: 'round'}
};

function drawSite(map) {
  L.rectangle([[0, 0], SITE.size], {color: '#c8d0c0', fillColor: '#eef1e6', fillOpacity: 1, weight: 1})
    .addTo(map);
  SITE.areas.forEach(function (a) {
    L.polygon(a.points, SITE_STYLE[a.kind]).bindTooltip(a.name).addTo(map);
  });
  SITE.roads.forEach(function (r) { L.polyline(r.points, SITE_STYLE.roadEdge).addTo(map); });
  SITE.roads.forEach(function (r) { L.polyline(r.points, SITE_STYLE.road).addTo(map); });
  SITE.buildings.forEach(function (b) {
    L.polygon(b.points, SITE_STYLE.building)
      .bindTooltip(b.name, {permanent: true, direction: 'center', className: 'camera-label'})
      .addTo(map);
  });
}
