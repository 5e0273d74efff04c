// The point cloud in 3D: every point in one buffer of points, coloured by amplitude, distance or
// height, turned with the mouse (orbit, pan, zoom); the scanner's place marked, north up the
// screen at the start and up kept up.

import * as THREE from "three";
import { OrbitControls } from "three/examples/jsm/controls/OrbitControls.js";
import { colourAll, robustRange } from "../core/colors";
import type { CloudView } from "../core/views";

export type ColourBy = "amplitude" | "distance" | "height";

export interface CloudScene {
  recolour(by: ColourBy): [number, number];
  count: number;
}

let webgl2: boolean | null = null;

/** Whether this browser can draw the cloud: three.js needs WebGL 2, which a browser may have
 * switched off or have no driver for. Asked once (the context asked for is given back at once);
 * the page asks before it prepares the cloud and again before it draws it. */
export function canDrawCloud(): boolean {
  if (webgl2 === null) {
    const gl = document.createElement("canvas").getContext("webgl2");
    gl?.getExtension("WEBGL_lose_context")?.loseContext();
    webgl2 = gl !== null;
  }
  return webgl2;
}

const POINT_STYLE = { size: 1, sizeAttenuation: false, vertexColors: true };

/** The renderer made ahead for a canvas, its shaders compiled. */
let prepared: { canvas: HTMLCanvasElement; renderer: THREE.WebGLRenderer } | null = null;

function newRenderer(canvas: HTMLCanvasElement): THREE.WebGLRenderer {
  const renderer = new THREE.WebGLRenderer({ canvas, antialias: false, preserveDrawingBuffer: true });
  renderer.setPixelRatio(window.devicePixelRatio || 1);
  return renderer;
}

/** Makes the cloud's renderer and compiles the shaders of what it draws (the points, the
 * scanner's cross, the north arrow) ahead of the points: in software WebGL that takes a good
 * part of the first frame, which the page spends while its worker reads the files. */
export function prepareCloud(canvas: HTMLCanvasElement): void {
  if (prepared?.canvas === canvas) return;
  const renderer = newRenderer(canvas);
  const geometry = new THREE.BufferGeometry();
  geometry.setAttribute("position", new THREE.BufferAttribute(new Float32Array(3), 3));
  geometry.setAttribute("color", new THREE.BufferAttribute(new Uint8Array(3), 3, true));
  const scene = new THREE.Scene();
  scene.background = new THREE.Color(0x101418);
  scene.add(new THREE.Points(geometry, new THREE.PointsMaterial(POINT_STYLE)));
  scene.add(new THREE.LineSegments(new THREE.BufferGeometry().setFromPoints([new THREE.Vector3(),
    new THREE.Vector3(1, 0, 0)]), new THREE.LineBasicMaterial({ color: 0xff3030, depthTest: false })));
  scene.add(new THREE.ArrowHelper(new THREE.Vector3(0, 0, -1), new THREE.Vector3(), 1, 0x30ff60));
  renderer.compile(scene, new THREE.PerspectiveCamera());
  prepared = { canvas, renderer };
}

export function showCloud(canvas: HTMLCanvasElement, cloud: CloudView): CloudScene {
  const n = cloud.points.length / 3;
  const geometry = new THREE.BufferGeometry();
  geometry.setAttribute("position", new THREE.BufferAttribute(cloud.points, 3));
  const colours = new Uint8Array(3 * n);
  geometry.setAttribute("color", new THREE.BufferAttribute(colours, 3, true));
  const material = new THREE.PointsMaterial(POINT_STYLE);
  const points = new THREE.Points(geometry, material);
  // Three's frame has y up: east is x, up is y, north is -z. The points are turned into it by
  // their object's matrix, so the GPU does it rather than a copy of the million points.
  points.matrixAutoUpdate = false;
  points.matrix.set(1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1);
  points.matrixWorldNeedsUpdate = true;

  const renderer = prepared?.canvas === canvas ? prepared.renderer : newRenderer(canvas);
  prepared = null;
  const scene = new THREE.Scene();
  scene.background = new THREE.Color(0x101418);
  scene.add(points);

  // The scanner: a red cross of 0.5 m arms at the origin; north: a green arrow.
  const size = extent(cloud.points);
  const arm = Math.max(size / 15, 0.25);
  const marker = new THREE.LineSegments(new THREE.BufferGeometry().setFromPoints([
    new THREE.Vector3(-arm, 0, 0), new THREE.Vector3(arm, 0, 0), new THREE.Vector3(0, -arm, 0),
    new THREE.Vector3(0, arm, 0), new THREE.Vector3(0, 0, -arm), new THREE.Vector3(0, 0, arm),
  ]), new THREE.LineBasicMaterial({ color: 0xff3030, depthTest: false }));
  marker.renderOrder = 1; // drawn over the points, so the walls do not hide it
  scene.add(marker);
  if (cloud.levelled) {
    const north = new THREE.ArrowHelper(new THREE.Vector3(0, 0, -1), new THREE.Vector3(0, 0, 0),
      arm * 3, 0x30ff60, arm * 0.8, arm * 0.5);
    for (const part of [north.line, north.cone]) {
      (part.material as THREE.Material).depthTest = false;
      part.renderOrder = 1;
    }
    scene.add(north);
  }

  const camera = new THREE.PerspectiveCamera(55, 1, 0.05, size * 20 + 100);
  // From the south-east and above, outside the room, north away from the viewer.
  camera.position.set(size * 0.5, size * 1.25, size * 1.45);
  const controls = new OrbitControls(camera, canvas);
  controls.target.set(0, 0, 0);
  controls.update();

  let drawnW = -1, drawnH = -1;
  /** Fits the drawing to the canvas's size; false when that has not changed. */
  function resize(): boolean {
    const w = canvas.clientWidth, h = canvas.clientHeight;
    if (w === drawnW && h === drawnH) return false;
    drawnW = w;
    drawnH = h;
    renderer.setSize(w, h, false);
    camera.aspect = w / Math.max(h, 1);
    camera.updateProjectionMatrix();
    return true;
  }
  // One drawing per frame, however many changes asked for it: a million points in software
  // WebGL take a large part of a second, and the first frame has a recolouring and a resize.
  let queued = false;
  const render = () => {
    if (queued) return;
    queued = true;
    requestAnimationFrame(() => {
      queued = false;
      renderer.render(scene, camera);
    });
  };
  controls.addEventListener("change", render);
  // The observer also reports the size the canvas starts with, after the first frame is asked
  // for: drawing the million points again for that would double the first frame's cost.
  new ResizeObserver(() => {
    if (resize()) render();
  }).observe(canvas);
  resize();

  function recolour(by: ColourBy): [number, number] {
    const values = new Float32Array(n);
    const p = cloud.points;
    for (let i = 0; i < n; i++) {
      values[i] = by === "amplitude" ? cloud.amplitude[i] : by === "height" ? p[3 * i + 2]
        : Math.hypot(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
    }
    const [lo, hi] = robustRange(values);
    colourAll("viridis", values, lo, hi, colours);
    geometry.attributes.color.needsUpdate = true;
    render();
    return [lo, hi];
  }
  canvas.dataset.points = String(n);
  return { recolour, count: n };
}

/** How far the cloud reaches from the scanner: the 98th percentile of |x|, |y|, |z|. */
function extent(points: Float32Array): number {
  const some: number[] = [];
  const every = Math.max(Math.floor(points.length / 30000), 1) * 3;
  for (let i = 0; i + 2 < points.length; i += every) {
    some.push(Math.max(Math.abs(points[i]), Math.abs(points[i + 1]), Math.abs(points[i + 2])));
  }
  some.sort((a, b) => a - b);
  return Math.max(some[Math.floor(0.98 * (some.length - 1))] ?? 1, 1);
}
